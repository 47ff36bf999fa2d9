// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace poppler {
class document;
}

namespace kolvex {

// Poppler keeps global state that is not safe to touch from several threads at once, and up to
// eight jobs run together: every poppler call in the process goes through this one lock. It is
// recursive so that objects released while it is held can take it again.
class PopplerLock {
public:
    // Blocks until the calling thread holds the lock. The first call also silences poppler's
    // own messages on stderr.
    static std::unique_lock<std::recursive_mutex> acquire();
};

// A page rendered to 8-bit RGB, rows packed without padding, top row first.
struct PageBitmap {
    int width = 0;
    int height = 0;
    const uint8_t* pixels = nullptr;  // width × height × 3 bytes, owned by `storage`
    std::shared_ptr<void> storage;
};

// A PDF opened with poppler for reading: lock detection, page text and page rendering.
// Every member takes the poppler lock itself; one object may be used from one thread at a time.
class PopplerDocument {
public:
    // How a load ended.
    enum class Status { opened, unreadable, locked };

    // Largest page bitmap made, in pixels (about 600 MB while it is drawn).
    static constexpr int64_t kMaxPagePixels = 150'000'000;
    // Longest side of a page bitmap, in pixels.
    static constexpr int kMaxPageSide = 32'000;

    // Loads the file. `status()` tells whether it opened; nothing else may be called otherwise.
    static PopplerDocument load(const std::filesystem::path& file);
    // Loads a document held in memory; `data` is kept alive with the document.
    static PopplerDocument load(std::shared_ptr<const std::string> data);

    PopplerDocument(PopplerDocument&&) noexcept;
    PopplerDocument& operator=(PopplerDocument&&) noexcept;
    ~PopplerDocument();

    Status status() const { return m_status; }
    int pageCount() const;

    // A page as viewers show it: the width and height in points of its crop box, turned by
    // the page's /Rotate (a landscape-turned portrait page is wider than high). None when the
    // page cannot be read.
    struct Size {
        double width = 0;
        double height = 0;
    };
    std::optional<Size> shownSize(int index) const;

    // The page's text in reading order, one line per printed line, without the trailing
    // line breaks and form feed poppler ends a page with; "" when the page has none.
    std::string pageText(int index) const;

    // Draws the page as viewers show it (crop box, turned by /Rotate) at `pixelsPerPoint` onto
    // an opaque white `width` × `height` bitmap, `width` × `height` being shownSize() × scale.
    // Throws PageTooLarge above the bitmap cap, std::runtime_error when poppler fails.
    PageBitmap render(int index, double pixelsPerPoint, int width, int height) const;

    // Whether a bitmap of that size stays within the cap.
    static bool fitsBitmapCap(int64_t width, int64_t height);

    struct PageTooLarge : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

private:
    PopplerDocument() = default;
    void release() noexcept;

    Status m_status = Status::unreadable;
    poppler::document* m_document = nullptr;  // owned; deleted under the lock
    std::shared_ptr<const std::string> m_data;
};

}  // namespace kolvex
