// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

#include <QImage>
#include <QSizeF>

namespace kolvex {

// The picture of a dragged file for the Portal's centre: a thumbnail of an image or a PDF's
// first page, or a video's first frame, else the icon theme's icon for the file's type, else a plain document icon.
// `size` is in points; pictures have at most size × scale pixels and that device pixel ratio.
struct Thumbnailer {
    // The picture, or the icon when there is none. Never fails. GUI thread (icons need it).
    static QImage image(const std::filesystem::path& file, QSizeF size, double scale);
    // The thumbnail alone; a null image when the file is no picture we can read. Any thread; blocking.
    static QImage picture(const std::filesystem::path& file, QSizeF size, double scale);
    // The icon alone; never null. GUI thread.
    static QImage icon(const std::filesystem::path& file, QSizeF size, double scale);
};

}  // namespace kolvex
