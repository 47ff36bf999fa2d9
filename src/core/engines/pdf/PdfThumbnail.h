// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>

#include "core/engines/image/Thumbnailer.h"

namespace kolvex {

// The first page of a PDF as viewers show it (crop box, turned by /Rotate), drawn by the same
// poppler renderer the page conversions use, to fit within `maxSide` pixels on each side.
// Nothing when the file is no PDF poppler opens, is locked, has no pages or the side is not
// positive. Any thread (poppler is entered under its process-wide lock); blocking.
std::optional<image::ThumbnailPixels> pdfThumbnail(const std::filesystem::path& file, int maxSide);

}  // namespace kolvex
