// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/engines/pdf/PopplerDocument.h"
#include "core/format/FormatManifest.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

// Saves rendered pages with libvips. The saver comes from the image engine's format table, by
// the format's content types, never guessed from a file name. Stateless; any thread.
struct PageImageWriter {
    // Whether pages can be saved as `format` on this build.
    static bool canWrite(const Format& format);

    // Saves `bitmap` as `format` staged for `destination` (see StagedOutput): it takes the name
    // only when the caller commits it, with the other pages of the set. `quality` (0…1) sets
    // the lossy quality of formats that have one. Safe on several threads at once.
    // Throws ConversionError: insufficientPermissions(destination) when the file cannot be
    // created, insufficientDiskSpace (what the page's file takes, what is free) when the volume
    // fills up while it is written, backendFailure("pdf", -1, "could not write page image") when
    // saving fails otherwise, unsupportedCombination when no saver handles the format.
    static StagedOutput stage(const PageBitmap& bitmap, const Format& format, const std::filesystem::path& destination,
                              std::optional<double> quality);
};

}  // namespace kolvex
