// SPDX-License-Identifier: GPL-3.0-or-later
#include "DocumentTestSupport.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <sstream>
#include <map>
#include <memory>
#include <thread>

#include <archive.h>
#include <archive_entry.h>

#include <QBuffer>
#include <QImage>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>

#include "core/engines/document/RichDocument.h"
#include "core/services/ProcessRunner.h"

namespace kolvex::testing {

Format documentFormat(const std::string& id) {
    static const std::map<std::string, std::pair<std::string, std::string>> known = {
        {"txt", {"Plain Text", "text/plain"}},  {"rtf", {"RTF", "application/rtf"}},
        {"html", {"HTML", "text/html"}},        {"md", {"Markdown", "text/markdown"}},
        {"csv", {"CSV", "text/csv"}},           {"docx", {"Word Document", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"}},
        {"pdf", {"PDF", "application/pdf"}},    {"png", {"PNG", "image/png"}},
    };
    const auto& [label, type] = known.at(id);
    const FormatCategory category = id == "pdf" ? FormatCategory::pdf : id == "png" ? FormatCategory::image : FormatCategory::document;
    return Format{FormatID(id), category, {id}, {type}, {}, label};
}

ConversionJob documentJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                          const std::string& from, const std::string& to, std::optional<std::string> tool) {
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = std::move(tool);
    ConversionCapability capability{FormatID(from), FormatID(to), engine_ids::document, ConversionCost::inProcess, false};
    return ConversionJob(source, {}, destination, documentFormat(from), documentFormat(to), capability, options);
}

QByteArray solidPng(int width, int height, Qt::GlobalColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

TextAttributes plainAttributes(double size) {
    return TextAttributes{TextFont::system(size), std::nullopt, kIntentNone};
}

TextAttributes boldAttributes(double size) {
    TextAttributes a = plainAttributes(size);
    a.font->bold = true;
    return a;
}

TextAttributes italicAttributes(double size) {
    TextAttributes a = plainAttributes(size);
    a.font->italic = true;
    return a;
}

TextAttributes monoAttributes(double size) {
    return TextAttributes{TextFont::monospacedSystem(size), std::nullopt, kIntentNone};
}

bool finishesWithin(std::chrono::milliseconds limit, std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done, work = std::move(work)] {
        try {
            work();
        } catch (...) {
        }
        done->set_value();
    }).detach();
    return finished.wait_for(limit) == std::future_status::ready;
}

void writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries) {
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_zip_set_compression_deflate(a);
    if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) throw std::runtime_error("cannot write the zip");
    for (const ZipEntry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size() * e.repeat));
        archive_write_header(a, entry);
        for (uint64_t i = 0; i < e.repeat; ++i) archive_write_data(a, e.content.data(), e.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

int DocxPackage::count(const std::string& part, const std::string& localName) const {
    const auto out = programOutput("/usr/bin/xmllint", {"--xpath", "count(//*[local-name()='" + localName + "'])", (folder / part).string()});
    return out ? std::stoi(*out) : -1;
}

std::optional<DocxPackage> unpackDocx(const std::filesystem::path& docx, const std::filesystem::path& folder) {
    if (!std::filesystem::exists("/usr/bin/xmllint") || !std::filesystem::exists("/usr/bin/bsdtar")) return std::nullopt;
    std::filesystem::create_directories(folder);
    if (!programOutput("/usr/bin/bsdtar", {"-xf", docx.string(), "-C", folder.string()})) return DocxPackage{folder, {}, {"(not a zip)"}};
    DocxPackage package{folder, {}, {}};
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = std::filesystem::relative(entry.path(), folder).string();
        package.parts.push_back(name);
        if (name.ends_with(".xml") || name.ends_with(".rels"))
            if (!programOutput("/usr/bin/xmllint", {"--noout", entry.path().string()})) package.malformed.push_back(name);
    }
    std::sort(package.parts.begin(), package.parts.end());
    return package;
}

std::optional<int> pdfPageCount(const std::filesystem::path& pdf) {
    const auto out = programOutput("/usr/bin/qpdf", {"--show-npages", pdf.string()});
    if (!out) return std::nullopt;
    return std::stoi(*out);
}

std::optional<std::string> pdfText(const std::filesystem::path& pdf, int first, int last) {
    std::vector<std::string> arguments = {"-enc", "UTF-8"};
    if (first > 0) arguments.insert(arguments.end(), {"-f", std::to_string(first), "-l", std::to_string(last)});
    arguments.insert(arguments.end(), {pdf.string(), "-"});
    return programOutput("/usr/bin/pdftotext", arguments);
}

std::optional<std::string> pdfFonts(const std::filesystem::path& pdf) {
    return programOutput("/usr/bin/pdffonts", {pdf.string()});
}

std::optional<int> pdfImageCount(const std::filesystem::path& pdf) {
    const auto out = programOutput("/usr/bin/pdfimages", {"-list", pdf.string()});
    if (!out) return std::nullopt;
    // Two heading lines, then one line per image ("image") or transparency mask ("smask").
    int images = 0;
    std::istringstream lines(*out);
    std::string page, number, type;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        if (fields >> page >> number >> type && type == "image") ++images;
    }
    return images;
}

namespace {

std::string marks(const QTextCharFormat& format) {
    const CharStyle style = CharStyle::of(format);
    std::string out;
    if (style.bold) out += "b";
    if (style.italic) out += "i";
    if (style.underline) out += "u";
    if (style.strike) out += "s";
    if (style.monospaced) out += "m";
    if (style.colour) out += " " + style.colour->name().toStdString();
    if (!style.family.isEmpty()) out += " " + style.family.toStdString();
    if (!style.link.isEmpty()) out += " ->" + style.link.toStdString();
    return out.empty() ? "" : "[" + out + "]";
}

void describeBlock(std::string& out, const QTextBlock& block, const std::string& where) {
    const QTextBlockFormat format = block.blockFormat();
    std::string head = where;
    if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) head += "break ";
    if (format.headingLevel() > 0) head += "h" + std::to_string(format.headingLevel()) + " ";
    if (const QTextList* list = block.textList())
        head += std::string(list->format().style() == QTextListFormat::ListDecimal ? "list decimal " : "list bullet ") +
                std::to_string(list->format().indent()) + " ";
    out += head + "|";
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.charFormat().isImageFormat()) {
            const QTextImageFormat image = fragment.charFormat().toImageFormat();
            out += "<image " + std::to_string(std::lround(image.width())) + "x" + std::to_string(std::lround(image.height())) + ">";
            continue;
        }
        out += fragmentText(fragment.text()).toStdString() + marks(fragment.charFormat());
    }
    out += "\n";
}

}  // namespace

std::string describe(const QTextDocument& document) {
    std::string out;
    forEachItem(
        document.rootFrame()->begin(), document.rootFrame()->end(), [&](const QTextBlock& block) { describeBlock(out, block, ""); },
        [&](QTextTable& table) {
            out += "table " + std::to_string(table.rows()) + "x" + std::to_string(table.columns()) + " header " +
                   std::to_string(table.format().headerRowCount()) + "\n";
            for (int r = 0; r < table.rows(); ++r)
                for (int c = 0; c < table.columns(); ++c) {
                    const QTextTableCell cell = table.cellAt(r, c);
                    if (cell.row() != r || cell.column() != c) continue;
                    const std::string where = "cell " + std::to_string(r) + "," + std::to_string(c) + " ";
                    for (QTextFrame::iterator it = cell.begin(); it != cell.end(); ++it)
                        if (it.currentBlock().isValid()) describeBlock(out, it.currentBlock(), where);
                }
        });
    return out;
}

}  // namespace kolvex::testing

namespace kolvex {

void PrintTo(const TextRun& run, std::ostream* os) {
    *os << "{\"" << run.text << "\"";
    if (const auto& f = run.attributes.font)
        *os << (f->isMonospaced() ? " mono " : " ") << f->pointSize << (f->bold ? " bold" : "") << (f->italic ? " italic" : "");
    else
        *os << " nofont";
    if (run.attributes.link) *os << " link=" << *run.attributes.link;
    if (run.attributes.intent) *os << " intent=" << int(run.attributes.intent);
    *os << "}";
}

}  // namespace kolvex
