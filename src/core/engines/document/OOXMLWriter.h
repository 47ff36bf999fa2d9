// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include <utility>

#include <QByteArray>

class QTextDocument;

namespace kolvex {

// Writes a rich document as a word-processing package (.docx): headings with their styles,
// bulleted and numbered lists, tables with header rows, pictures, page breaks, links, and runs with
// family, size, bold, italic, underline, strike-through and colour. The parts are built as text,
// with every character XML forbids left out, and zipped by bsdtar. Pure except write().
class OOXMLWriter {
public:
    // The parts of a package, by their names inside it.
    struct Package {
        std::string document;
        std::string documentRelationships;
        std::string styles;
        std::string numbering;
        std::vector<std::pair<std::string, QByteArray>> media;  // "media/image1.png", bytes
    };

    static constexpr double kTarTimeoutSeconds = 60;

    OOXMLWriter() = delete;

    // Assembles the package in a scratch folder and stores it at the destination, which appears
    // only when complete. Runs on the thread that owns the document and blocks while the archiver
    // runs. A failure, a time-out or a cancel leaves nothing at the destination. Throws
    // backendFailure("document", …) when the archiver fails, OperationCancelled when `stop` is requested.
    static std::filesystem::path write(const QTextDocument& document, const std::filesystem::path& destination, std::stop_token stop = {});
    // The same with another archiver program (tests).
    static std::filesystem::path write(const QTextDocument& document, const std::filesystem::path& destination, std::stop_token stop,
                      const std::filesystem::path& tarProgram);

    static Package package(const QTextDocument& document);
    // Text for an XML element or attribute: markup characters escaped, characters XML 1.0 does
    // not allow (C0 controls other than tab, line feed and carriage return, U+FFFE, U+FFFF, lone
    // surrogates) left out.
    static std::string escape(std::string_view text);

    static const std::string& contentTypes();
    static const std::string& packageRelationships();
    static const std::filesystem::path& tarPath();
};

}  // namespace kolvex
