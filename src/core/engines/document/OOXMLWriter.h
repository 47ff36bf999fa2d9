#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/engines/document/StyledText.h"

namespace kolvex {

// Writes styled text as a minimal word-processing package (.docx): content types, package
// relationships and word/document.xml in a ZIP made by bsdtar. Keeps paragraphs and the bold and
// italic state of each run, nothing else. The operations are pure except write().
class OOXMLWriter {
public:
    struct Run {
        std::string text;  // never empty, never holds a line feed
        bool bold = false;
        bool italic = false;

        bool operator==(const Run&) const = default;
    };
    using Paragraph = std::vector<Run>;

    static constexpr double kTarTimeoutSeconds = 60;

    OOXMLWriter() = delete;

    // Assembles the package in a scratch folder and stores it at the destination, which appears
    // only when complete. Runs on a worker thread and blocks while the archiver runs. A failure,
    // a time-out or a cancel leaves nothing at the destination. Throws backendFailure("document", …)
    // when the archiver fails, OperationCancelled when `stop` is requested.
    static void write(const StyledText& text, const std::filesystem::path& destination, std::stop_token stop = {});
    // The same with another archiver program (tests).
    static void write(const StyledText& text, const std::filesystem::path& destination, std::stop_token stop,
                      const std::filesystem::path& tarProgram);

    static std::string document(const StyledText& text);
    static std::vector<Paragraph> paragraphs(const StyledText& text);
    static std::string escape(std::string_view text);

    static const std::string& contentTypes();
    static const std::string& packageRelationships();
    static const std::filesystem::path& tarPath();
};

}  // namespace kolvex
