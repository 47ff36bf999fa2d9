// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Everything that touches qpdf's headers lives behind this header. qpdf 11's headers do not
// compile as C++20 with clang 14 (a nested type of its JSON class is destroyed before the class
// is complete), so QpdfBridge.cpp is built as C++17 and this interface uses nothing newer.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kolvex::qpdf_bridge {

// A PDF held by qpdf. A document built from pages of other documents refers to them until it
// is written: keep every source alive until `write` has returned. One thread at a time.
struct Document;
using DocumentPtr = std::shared_ptr<Document>;

enum class OpenStatus { opened, needsPassword, unreadable, tooDeep };

// A structure of a document nested deeper than qpdf can walk: "page tree", "outline",
// "name tree", "number tree", "form field tree" or "objects" (what a page or form refers to),
// and the most levels allowed for it.
struct Nesting {
    std::string structure;
    size_t limit = 0;
};

// Thrown by what copies pages or forms when what they refer to nests too deeply to copy.
struct NestedTooDeeply : std::runtime_error {
    explicit NestedTooDeeply(Nesting found);
    Nesting nesting;
};

struct Opened {
    OpenStatus status = OpenStatus::unreadable;
    DocumentPtr document;  // set when opened
    Nesting tooDeep;       // set for tooDeep
};

// Opens a file with an empty user password (documents that only restrict editing open). Every
// structure qpdf walks by recursion (page tree, outlines, name and number trees, form fields)
// is measured first, on the heap: a document with one deeper than qpdf can walk is not opened.
Opened open(const std::filesystem::path& file);

// A document with no pages.
DocumentPtr makeEmpty();

// Page count; 0 when the page tree cannot be read.
int pageCount(Document& document);

// The following throw std::exception when qpdf meets damage.

// Turns every page by `step` (a multiple of 90) on top of its own rotation.
void rotatePages(Document& document, int step);

// Appends a copy of page `index` of `source` (with what it inherits) to `target`, with the form
// fields its widgets belong to: `target` gets an interactive form holding them. Throws
// NestedTooDeeply, having copied nothing, for a page whose objects nest too deeply for qpdf's
// copier.
void appendPage(Document& target, Document& source, int index);
// Appends a copy of every page of `source`, in order, to `target`; throws as appendPage does.
void appendAllPages(Document& target, Document& source);

// Reads and parses every object of the document (and its page list) now, so that copying pages
// from it later finds them ready. The same thread rules apply: one thread at a time.
void preload(Document& document);

// Removes the Info dictionary and the document's XMP metadata stream.
void stripMetadata(Document& document);

// A page holding one picture. The samples are shared with the writer, never copied.
struct PicturePage {
    std::array<double, 4> mediaBox{};   // llx, lly, urx, ury
    std::array<double, 6> placement{};  // the "cm" that maps the picture's unit square
    int pixelWidth = 0;
    int pixelHeight = 0;
    std::string colourSpace;            // "/DeviceGray", "/DeviceRGB", "/DeviceCMYK"
    // The samples' own ICC profile, for as many components as colourSpace has; it then stands
    // in for the device space (the device space stays as its /Alternate). May be null.
    std::shared_ptr<const std::string> iccProfile;
    int bitsPerComponent = 8;
    std::string filter;                 // "/DCTDecode"; empty for raw samples, compressed on writing
    bool invertedCmyk = false;          // Adobe CMYK JPEG: samples are stored inverted
    std::shared_ptr<const std::string> samples;
    std::shared_ptr<const std::string> alpha;  // raw soft mask samples, same depth; may be null
};
void appendPicturePage(Document& target, const PicturePage& page);

// Whether the document is encrypted (it opened without a password, so only its owner
// password and permissions restrict it).
bool isEncrypted(Document& document);

enum class WriteStatus { written, cannotCreate, failed };

struct WriteOptions {
    // The document whose encryption and permissions the output carries; unencrypted when null
    // or when that document is not encrypted. May be the written document itself.
    Document* encryptionOf = nullptr;
    // Every stream that can be decoded is compressed again at flate's best level, and small
    // objects are packed into object streams.
    bool compact = false;
    // Set to the file's size once it is written, when given.
    int64_t* bytesWritten = nullptr;
};

// Writes the document to `file` (created or truncated).
WriteStatus write(Document& document, const std::filesystem::path& file, const WriteOptions& options);

// Writes page `index` of `document` alone to `file` (created or truncated) as a whole PDF of one
// page: what the page uses is copied as stored, nothing decoded or compressed again, and what
// it refers to on other pages becomes null, as when the page is copied into an empty document.
// `bytesWritten` is set to the file's size when given. Returns nullopt for an encrypted document
// (nothing is created) or a page with an object that cannot be read as stored (the file is then
// left for the caller to write again): such a page is copied into a document of its own instead.
std::optional<WriteStatus> writePage(Document& document, int index, const std::filesystem::path& file,
                                     int64_t* bytesWritten);

// A PDF's text layer as a rewrite sees it: the decoded ToUnicode map of every font that has one,
// and for each page its decoded content and which of those maps each font resource name uses.
struct TextLayer {
    struct Page {
        std::string content;
        std::map<std::string, size_t> fontMaps;  // "/F7" → index in maps
    };
    std::vector<std::string> maps;
    std::vector<Page> pages;
};

// Reads the text layer of the PDF at `file` and hands it to `edit`; when `edit` returns true, the
// maps and page contents it changed are written back and the file is rewritten in place. Returns
// whether it was. Throws std::exception when the file cannot be read, parsed or written.
bool rewriteTextLayer(const std::filesystem::path& file, const std::function<bool(TextLayer&)>& edit);

}  // namespace kolvex::qpdf_bridge
