#include "DocumentTestSupport.h"

#include <future>
#include <map>
#include <memory>
#include <thread>

#include <archive.h>
#include <archive_entry.h>

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

namespace {

std::optional<std::string> runTool(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    if (!std::filesystem::exists(program)) return std::nullopt;
    try {
        const ProcessResult result = ProcessRunner().run(program, arguments, ProcessRunner::Timeout(30), {}, {});
        if (result.exitCode != 0) return std::nullopt;
        return result.standardOutputData;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<int> pdfPageCount(const std::filesystem::path& pdf) {
    const auto out = runTool("/usr/bin/qpdf", {"--show-npages", pdf.string()});
    if (!out) return std::nullopt;
    return std::stoi(*out);
}

std::optional<std::string> pdfText(const std::filesystem::path& pdf) {
    return runTool("/usr/bin/pdftotext", {"-enc", "UTF-8", pdf.string(), "-"});
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
