// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/engines/document/StyledText.h"

#include <QByteArray>
#include <QColor>

class QTextDocument;
#include "core/format/ConversionJob.h"
#include "support/ExternalTool.h"

namespace kolvex::testing {

// The manifest's document formats, as the engine sees them.
Format documentFormat(const std::string& id);

// A job from `source` to `destination` between two formats of the given ids.
ConversionJob documentJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                          const std::string& from, const std::string& to, std::optional<std::string> tool = std::nullopt);

// A PNG file of `width` × `height` pixels all of one colour.
QByteArray solidPng(int width, int height, Qt::GlobalColor colour);

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

// A .docx unpacked by bsdtar, every XML part checked by xmllint.
struct DocxPackage {
    std::filesystem::path folder;          // where it was unpacked
    std::vector<std::string> parts;        // every entry, by name
    std::vector<std::string> malformed;    // XML parts xmllint refused
    // How many elements with this local name a part holds, by xmllint's XPath.
    int count(const std::string& part, const std::string& localName) const;
};
// None when bsdtar or xmllint is missing.
std::optional<DocxPackage> unpackDocx(const std::filesystem::path& docx, const std::filesystem::path& folder);

// The page count of a PDF by qpdf; none when qpdf is missing or fails.
std::optional<int> pdfPageCount(const std::filesystem::path& pdf);
// The text of a PDF (or of pages first…last) by pdftotext; none when the program is missing or fails.
std::optional<std::string> pdfText(const std::filesystem::path& pdf, int first = 0, int last = 0);
// pdffonts' report, and how many pictures (not counting their masks) pdfimages lists.
std::optional<std::string> pdfFonts(const std::filesystem::path& pdf);
std::optional<int> pdfImageCount(const std::filesystem::path& pdf);

// A document's structure, one line per paragraph or table cell, for reader tests:
// "h1|", "list disc 1|", "table 3x2 header 1", "cell 0,1|", "break|", then the runs, each as
// its text followed by its marks in brackets ("strong[b]"), and "<image 40x20>" for a picture.
std::string describe(const QTextDocument& document);

}  // namespace kolvex::testing

namespace kolvex {
// Readable failures for runs.
void PrintTo(const TextRun& run, std::ostream* os);
}  // namespace kolvex
