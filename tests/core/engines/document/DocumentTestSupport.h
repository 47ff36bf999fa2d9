#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/engines/document/StyledText.h"
#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// The manifest's document formats, as the engine sees them.
Format documentFormat(const std::string& id);

// A job from `source` to `destination` between two formats of the given ids.
ConversionJob documentJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                          const std::string& from, const std::string& to, std::optional<std::string> tool = std::nullopt);

// Attribute shorthands.
TextAttributes plainAttributes(double size = 12);
TextAttributes boldAttributes(double size = 12);
TextAttributes italicAttributes(double size = 12);
TextAttributes monoAttributes(double size = 10);

// Runs `work` on another thread; false when it has not finished within `limit` (the thread is
// then left behind, detached, so a hang fails the test instead of stalling the suite).
bool finishesWithin(std::chrono::milliseconds limit, std::function<void()> work);

// Writes a ZIP with deflated entries. An entry with `repeat` > 0 holds its content that many
// times over (written in pieces, so a huge entry costs no memory).
struct ZipEntry {
    std::string name;
    std::string content;
    uint64_t repeat = 1;
};
void writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries);

// The page count of a PDF by qpdf; none when qpdf is missing or fails.
std::optional<int> pdfPageCount(const std::filesystem::path& pdf);
// The text of a PDF by pdftotext; none when the program is missing or fails.
std::optional<std::string> pdfText(const std::filesystem::path& pdf);

}  // namespace kolvex::testing

namespace kolvex {
// Readable failures for runs.
void PrintTo(const TextRun& run, std::ostream* os);
}  // namespace kolvex
