// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PopplerDocument.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include "core/engines/pdf/PageTextOrder.h"

namespace kolvex {

namespace {

std::recursive_mutex& popplerMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// A document's own problems are reported to the user as errors of ours; poppler's running
// commentary on them would only fill the log.
void ignorePopplerMessage(const std::string&, void*) {}

std::vector<PlacedWord> placedWords(const std::vector<poppler::text_box>& words) {
    const auto boxOf = [](const poppler::rectf& rect) { return PlacedWord::Box{rect.x(), rect.y(), rect.width(), rect.height()}; };
    std::vector<PlacedWord> placed;
    placed.reserve(words.size());
    for (const poppler::text_box& word : words) {
        const poppler::ustring text = word.text();
        const poppler::byte_array utf8 = text.to_utf8();
        PlacedWord one;
        one.text.assign(utf8.begin(), utf8.end());
        one.box = boxOf(word.bbox());
        one.rotation = word.rotation();
        one.fontSize = word.get_font_size();
        // One box a character, as poppler keeps them (UTF-16 text: a character beyond the basic
        // plane takes two units and one box).
        size_t characters = 0;
        for (size_t i = 0; i < text.size(); ++i) characters += (text[i] & 0xFC00) == 0xDC00 ? 0 : 1;
        for (size_t i = 0; i < characters; ++i) one.characters.push_back(boxOf(word.char_bbox(i)));
        placed.push_back(std::move(one));
    }
    return placed;
}

std::string withoutPageEnd(std::string text) {
    if (!text.empty() && text.back() == '\f') text.pop_back();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool onOneLine(const poppler::text_box& a, const poppler::text_box& b) {
    const poppler::rectf p = a.bbox();
    const poppler::rectf q = b.bbox();
    const bool upright = a.rotation() % 2 == 0;
    const double low = upright ? std::max(p.top(), q.top()) : std::max(p.left(), q.left());
    const double high = upright ? std::min(p.bottom(), q.bottom()) : std::min(p.right(), q.right());
    const double extent = upright ? std::min(p.height(), q.height()) : std::min(p.width(), q.width());
    return high - low > 0.5 * extent;
}

std::string utf8Of(const poppler::text_box& box) {
    const poppler::byte_array bytes = box.text().to_utf8();
    return std::string(bytes.begin(), bytes.end());
}

// How far past the end of one word the next may start in the page text: the spaces and line
// breaks between them, and a little slack for what poppler puts between blocks.
constexpr size_t kWordSlack = 64;

// Where `needle` starts at or just after `from`, or npos.
// Only that stretch is searched: a word the text does not hold (a right-to-left word, which the
// text holds in another order) must not cost a search of the rest of the page.
size_t findNear(const std::string& text, const std::string& needle, size_t from) {
    if (needle.empty() || from > text.size()) return std::string::npos;
    const std::string_view near = std::string_view(text).substr(from, kWordSlack + needle.size());
    const size_t at = near.find(needle);
    return at == std::string_view::npos ? std::string::npos : from + at;
}

// Poppler's reading-order text drops the hyphen that ends a line and joins the two halves
// ("Jean-" over "Paul said" reads "JeanPaul said"), which loses real hyphens. The printed line
// comes back here, hyphen and line break included, and the reflow decides what to join.
// The page's words come in the same reading order as the text, so they are followed through it
// one after the other: a hyphen is put back at the line it ended, never at an earlier place
// where the same word stands.
std::string withLineEndHyphens(std::string text, const std::vector<poppler::text_box>& words) {
    size_t cursor = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string word = utf8Of(words[i]);
        const bool endsLine = i + 1 < words.size() && word.size() >= 2 && word.back() == '-' &&
                              !onOneLine(words[i], words[i + 1]);
        if (!endsLine) {
            const size_t at = findNear(text, word, cursor);
            if (at != std::string::npos) cursor = at + word.size();
            continue;
        }
        const std::string next = utf8Of(words[i + 1]);
        const std::string stem = word.substr(0, word.size() - 1);
        // Left as printed, joined with the hyphen, or joined without it: whichever comes first.
        const size_t printed = findNear(text, word + "\n" + next, cursor);
        const size_t kept = findNear(text, word + next, cursor);
        const size_t joined = findNear(text, stem + next, cursor);
        const size_t first = std::min({printed, kept, joined});
        if (first == std::string::npos) continue;
        if (first == printed) {
            cursor = printed + word.size();
        } else if (first == kept) {
            text.insert(kept + word.size(), "\n");
            cursor = kept + word.size();
        } else {
            text.insert(joined + stem.size(), "-\n");
            cursor = joined + stem.size() + 1;
        }
    }
    return text;
}

}  // namespace

std::unique_lock<std::recursive_mutex> PopplerLock::acquire() {
    std::unique_lock lock(popplerMutex());
    static const bool silenced = [] {
        poppler::set_debug_error_function(ignorePopplerMessage, nullptr);
        return true;
    }();
    (void)silenced;
    return lock;
}

PopplerDocument PopplerDocument::load(const std::filesystem::path& file) {
    PopplerDocument result;
    auto lock = PopplerLock::acquire();
    result.m_document = poppler::document::load_from_file(file.string());
    if (!result.m_document) {
        result.m_status = Status::unreadable;
    } else {
        result.m_status = result.m_document->is_locked() ? Status::locked : Status::opened;
    }
    return result;
}

PopplerDocument PopplerDocument::load(std::shared_ptr<const std::string> data) {
    PopplerDocument result;
    result.m_data = std::move(data);
    if (!result.m_data || result.m_data->size() > static_cast<size_t>(INT_MAX)) return result;
    auto lock = PopplerLock::acquire();
    result.m_document = poppler::document::load_from_raw_data(result.m_data->data(),
                                                              static_cast<int>(result.m_data->size()));
    if (!result.m_document) {
        result.m_status = Status::unreadable;
    } else {
        result.m_status = result.m_document->is_locked() ? Status::locked : Status::opened;
    }
    return result;
}

PopplerDocument::PopplerDocument(PopplerDocument&& other) noexcept
    : m_status(other.m_status), m_document(other.m_document), m_data(std::move(other.m_data)) {
    other.m_document = nullptr;
}

PopplerDocument& PopplerDocument::operator=(PopplerDocument&& other) noexcept {
    if (this != &other) {
        release();
        m_status = other.m_status;
        m_document = other.m_document;
        m_data = std::move(other.m_data);
        other.m_document = nullptr;
    }
    return *this;
}

PopplerDocument::~PopplerDocument() { release(); }

void PopplerDocument::release() noexcept {
    if (!m_document) return;
    auto lock = PopplerLock::acquire();
    delete m_document;
    m_document = nullptr;
}

int PopplerDocument::pageCount() const {
    if (m_status != Status::opened) return 0;
    auto lock = PopplerLock::acquire();
    return m_document->pages();
}

std::optional<PopplerDocument::Size> PopplerDocument::shownSize(int index) const {
    if (m_status != Status::opened) return std::nullopt;
    auto lock = PopplerLock::acquire();
    std::unique_ptr<poppler::page> page(m_document->create_page(index));
    if (!page) return std::nullopt;
    // The crop box as poppler keeps it: already clipped to the media box, never turned.
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    const auto turn = page->orientation();
    if (turn == poppler::page::landscape || turn == poppler::page::seascape) return Size{box.height(), box.width()};
    return Size{box.width(), box.height()};
}

std::string PopplerDocument::pageText(int index) const {
    if (m_status != Status::opened) return {};
    auto lock = PopplerLock::acquire();
    std::unique_ptr<poppler::page> page(m_document->create_page(index));
    if (!page) return {};
    // Reading order, not the physical layout: columns come out one after the other and words
    // are separated by single spaces, which is what paragraph rebuilding expects.
    poppler::byte_array utf8 = page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
    std::string text(utf8.begin(), utf8.end());
    std::vector<poppler::text_box> words = page->text_list(poppler::page::text_list_include_font);
    // Poppler turns right-to-left lines round character by character, which reverses what one
    // glyph stands for and swaps the clauses of a mixed line: such a page is read from where
    // its glyphs stand instead.
    if (PageTextOrder::readsFromPlaces(text)) {
        const poppler::page::orientation_enum turn = page->orientation();
        const bool upright = turn == poppler::page::portrait || turn == poppler::page::upside_down;
        const double width = upright ? page->page_rect(poppler::crop_box).width() : 0;
        text = PageTextOrder::logicalLines(placedWords(words), width);
    }
    return withoutPageEnd(withLineEndHyphens(std::move(text), words));
}

bool PopplerDocument::fitsBitmapCap(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxPageSide && height <= kMaxPageSide &&
           width * height <= kMaxPagePixels;
}

PageBitmap PopplerDocument::render(int index, double pixelsPerPoint, int width, int height) const {
    if (!fitsBitmapCap(width, height)) {
        throw PageTooLarge("page " + std::to_string(index + 1) + " is too large to render (" + std::to_string(width) +
                           " × " + std::to_string(height) + " pixels); choose a lower resolution");
    }
    if (m_status != Status::opened) throw std::runtime_error("the document is not open");

    poppler::image image;
    {
        auto lock = PopplerLock::acquire();
        std::unique_ptr<poppler::page> page(m_document->create_page(index));
        if (!page) throw std::runtime_error("page " + std::to_string(index + 1) + " could not be read");
        poppler::page_renderer renderer;
        renderer.set_render_hints(poppler::page_renderer::antialiasing | poppler::page_renderer::text_antialiasing);
        renderer.set_image_format(poppler::image::format_rgb24);
        renderer.set_paper_color(0xffffffff);
        const double dpi = pixelsPerPoint * 72.0;
        image = renderer.render_page(page.get(), dpi, dpi, 0, 0, width, height);
    }
    if (!image.is_valid() || image.width() != width || image.height() != height) {
        throw std::runtime_error("page " + std::to_string(index + 1) + " could not be drawn");
    }

    // Poppler's 24-bit format is packed R, G, B; rows may be padded, so close them up in place.
    auto storage = std::make_shared<poppler::image>(std::move(image));
    char* rows = storage->data();
    const size_t stride = static_cast<size_t>(storage->bytes_per_row());
    const size_t packed = static_cast<size_t>(width) * 3;
    if (stride < packed) throw std::runtime_error("page " + std::to_string(index + 1) + " could not be drawn");
    if (stride != packed) {
        for (int y = 1; y < height; ++y) {
            std::memmove(rows + packed * static_cast<size_t>(y), rows + stride * static_cast<size_t>(y), packed);
        }
    }
    PageBitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.pixels = reinterpret_cast<const uint8_t*>(rows);
    bitmap.storage = std::move(storage);
    return bitmap;
}

}  // namespace kolvex
