#include "core/engines/document/OOXMLWriter.h"

#include <fstream>
#include <system_error>

#include "core/services/StagedOutput.h"
#include "core/format/ConversionError.h"
#include "core/format/ConversionJob.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDeclaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";

void writePart(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw fs::filesystem_error("cannot write a package part", path, std::make_error_code(std::errc::io_error));
}

}  // namespace

const std::string& OOXMLWriter::contentTypes() {
    static const std::string text = std::string(kDeclaration) + "\n" +
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)" "\n"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)" "\n"
        R"(<Default Extension="xml" ContentType="application/xml"/>)" "\n"
        R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)" "\n"
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

std::vector<OOXMLWriter::Paragraph> OOXMLWriter::paragraphs(const StyledText& text) {
    std::vector<Paragraph> out;
    for (const std::vector<TextRun>& paragraph : text.paragraphs()) {
        Paragraph runs;
        runs.reserve(paragraph.size());
        for (const TextRun& run : paragraph) runs.push_back(Run{run.text, run.attributes.bold(), run.attributes.italic()});
        out.push_back(std::move(runs));
    }
    return out;
}

std::string OOXMLWriter::escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '\'': out += "&apos;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        default:
            // Control characters other than tab, line feed and carriage return are not XML.
            if (c < 32 && c != 9 && c != 10 && c != 13) break;
            out += ch;  // UTF-8 sequences are copied byte by byte
        }
    }
    return out;
}

std::string OOXMLWriter::document(const StyledText& text) {
    std::string out = std::string(kDeclaration) + "\n" +
        R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)" "\n<w:body>";
    const std::vector<Paragraph> all = paragraphs(text);
    if (all.empty()) out += "<w:p/>";
    for (const Paragraph& paragraph : all) {
        out += "<w:p>";
        for (const Run& run : paragraph) {
            out += "<w:r>";
            if (run.bold || run.italic) {
                out += "<w:rPr>";
                if (run.bold) out += "<w:b/>";
                if (run.italic) out += "<w:i/>";
                out += "</w:rPr>";
            }
            out += R"(<w:t xml:space="preserve">)";
            out += escape(run.text);
            out += "</w:t></w:r>";
        }
        out += "</w:p>";
    }
    out += R"(<w:sectPr><w:pgSz w:w="12240" w:h="15840"/><w:pgMar w:top="1440" w:right="1440" w:bottom="1440" w:left="1440"/></w:sectPr></w:body></w:document>)";
    return out;
}

void OOXMLWriter::write(const StyledText& text, const fs::path& destination, std::stop_token stop) {
    write(text, destination, std::move(stop), tarPath());
}

void OOXMLWriter::write(const StyledText& text, const fs::path& destination, std::stop_token stop, const fs::path& tarProgram) {
    const fs::path target = paths::absolute(destination);
    TemporaryFileManager::shared().withScratchDirectory([&](const fs::path& scratch) {
        const fs::path package = scratch / "docx";
        fs::create_directories(package / "_rels");
        fs::create_directories(package / "word");
        writePart(package / "[Content_Types].xml", contentTypes());
        writePart(package / "_rels" / ".rels", packageRelationships());
        writePart(package / "word" / "document.xml", document(text));

        // The archiver writes beside the destination under a hidden name; the package appears at
        // the destination only when complete, and a failure, time-out or cancel leaves nothing.
        StagedOutput output(target);
        const ProcessResult result = ProcessRunner().run(
            tarProgram,
            {"--format=zip", "-cf", output.path().string(), "-C", package.string(), "[Content_Types].xml", "_rels", "word"},
            ProcessRunner::Timeout(kTarTimeoutSeconds), {}, {}, stop);
        if (result.exitCode != 0)
            throw ConversionError::backendFailure(engine_ids::document.rawValue, result.exitCode,
                                                  "could not package the .docx\n" + result.standardErrorData);
        output.commit();
    });
}

}  // namespace kolvex
