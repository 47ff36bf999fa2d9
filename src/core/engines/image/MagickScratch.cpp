// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/MagickScratch.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>

#include "core/services/Log.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex::image {

namespace {

// ImageMagick reads the variable each time it makes a file, so it is set while a folder is
// there to name and taken away after, and never points at a folder that is gone.
constexpr const char* kVariable = "MAGICK_TEMPORARY_PATH";

std::mutex mutex;
int holders = 0;  // guarded by mutex
std::unique_ptr<TemporaryFileManager::ScratchDirectory> folder;  // guarded by mutex

}  // namespace

MagickScratch::MagickScratch() {
    std::lock_guard lock(mutex);
    if (holders++ > 0 || folder) return;
    try {
        // Made in place: a scratch folder can be neither copied nor moved.
        folder.reset(new TemporaryFileManager::ScratchDirectory(TemporaryFileManager::shared().makeScratchDirectory()));
        ::setenv(kVariable, folder->path.c_str(), 1);
    } catch (const std::exception& error) {
        // ImageMagick then uses $TMPDIR, as it would anyway: the job itself can still be done.
        Log::files().error("No scratch folder for ImageMagick: {}", error.what());
    }
}

MagickScratch::~MagickScratch() {
    std::lock_guard lock(mutex);
    if (--holders > 0 || !folder) return;
    ::unsetenv(kVariable);
    folder.reset();
}

}  // namespace kolvex::image
