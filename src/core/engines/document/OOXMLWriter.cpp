// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/OOXMLWriter.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "core/engines/document/UnicodeText.h"
#include "core/format/ConversionError.h"
#include "core/format/ConversionJob.h"
#include "core/services/ErrorMapper.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"
#include "core/services/StagedOutput.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDeclaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";

void writePart(const fs::path& path, const std::string& text) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    // The stream keeps no error code; errno still says why the last write failed (a full disk
    // must read as one).
    if (!out)
        throw fs::filesystem_error("cannot write a package part", path,
                                   std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
}

}  // namespace

const std::string& OOXMLWriter::contentTypes() {
    static const std::string text = std::string(kDeclaration) + "\n" +
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)" "\n"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)" "\n"
        R"(<Default Extension="xml" ContentType="application/xml"/>)" "\n"
        R"(<Default Extension="png" ContentType="image/png"/>)" "\n"
        R"(<Default Extension="jpeg" ContentType="image/jpeg"/>)" "\n"
        R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)" "\n"
        R"(<Override PartName="/word/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"/>)" "\n"
        R"(<Override PartName="/word/numbering.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.numbering+xml"/>)" "\n"
        "</Types>";
    return text;
}

const std::string& OOXMLWriter::packageRelationships() {
    static const std::string text = std::string(kDeclaration) + "\n" +
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)" "\n"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>)" "\n"
        "</Relationships>";
    return text;
}

const fs::path& OOXMLWriter::tarPath() {
    // libarchive's tar: GNU tar cannot write ZIP.
    static const fs::path path = "/usr/bin/bsdtar";
    return path;
}

std::string OOXMLWriter::escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : unicode::scalars(text)) {
        switch (c) {
        case '\'': out += "&apos;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        default:
            // What XML 1.0 does not allow, or a broken sequence (decoded as U+FFFD, which stays).
            if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) break;
            unicode::appendUtf8(out, c);
        }
    }
    return out;
}

std::filesystem::path OOXMLWriter::write(const QTextDocument& document, const fs::path& destination, std::stop_token stop) {
    return write(document, destination, std::move(stop), tarPath());
}

std::filesystem::path OOXMLWriter::write(const QTextDocument& document, const fs::path& destination, std::stop_token stop, const fs::path& tarProgram) {
    const fs::path target = paths::absolute(destination);
    return TemporaryFileManager::shared().withScratchDirectory([&](const fs::path& scratch) {
        const fs::path package = scratch / "docx";
        fs::create_directories(package / "_rels");
        fs::create_directories(package / "word" / "_rels");
        const Package parts = OOXMLWriter::package(document);
        writePart(package / "[Content_Types].xml", contentTypes());
        writePart(package / "_rels" / ".rels", packageRelationships());
        writePart(package / "word" / "document.xml", parts.document);
        writePart(package / "word" / "_rels" / "document.xml.rels", parts.documentRelationships);
        writePart(package / "word" / "styles.xml", parts.styles);
        writePart(package / "word" / "numbering.xml", parts.numbering);
        if (!parts.media.empty()) fs::create_directories(package / "word" / "media");
        for (const auto& [name, bytes] : parts.media) writePart(package / "word" / name, std::string(bytes.constData(), static_cast<size_t>(bytes.size())));

        // The archiver writes beside the destination under a hidden name; the package appears at
        // the destination only when complete, and a failure, time-out or cancel leaves nothing.
        StagedOutput output(target);
        const ProcessResult result = ProcessRunner().run(
            tarProgram,
            {"--format=zip", "-cf", output.path().string(), "-C", package.string(), "[Content_Types].xml", "_rels", "word"},
            ProcessRunner::Timeout(kTarTimeoutSeconds), {}, {}, stop);
        if (result.exitCode != 0) {
            // A full disk or a refused write reads as it does from every other engine.
            const ConversionError error = ErrorMapper::map(
                ErrorMapper::Program::bsdtar, result.exitCode, result.standardErrorData,
                ErrorMapper::Subject(target, engine_ids::document.rawValue), FileManagerService::shared());
            if (error.kind() != ConversionError::Kind::backendFailure) throw error;
            throw ConversionError::backendFailure(engine_ids::document.rawValue, result.exitCode,
                                                  "could not package the .docx\n" + result.standardErrorData);
        }
        output.commit();
        return output.destination();
    });
}

}  // namespace kolvex
