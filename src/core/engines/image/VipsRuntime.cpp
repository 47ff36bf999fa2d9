// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/VipsRuntime.h"

#include <algorithm>
#include <mutex>

#include <vips/vips8>

#include "core/conversion/ConversionCoordinator.h"
#include "core/format/ConversionError.h"

namespace kolvex::image {

namespace {

// libvips reports recoverable trouble (a damaged tile, a bad CRC) as GLib warnings before it
// fails the operation; the failure itself reaches the caller as an error, so the warnings add
// nothing but noise on stderr.
void dropVipsWarning(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

std::mutex shareMutex;
int pictures = 0;  // live VipsThreadShare objects, guarded by shareMutex

void shareThreads() {
    static const int processors = ConversionCoordinator::activeProcessorCount();
    vips_concurrency_set(VipsThreadShare::threadsFor(processors, pictures));
}

}  // namespace

void ensureVipsStarted() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        if (VIPS_INIT("kolvex") != 0) {
            vips_error_clear();
            return;
        }
        vips_cache_set_max(0);
        vips_block_untrusted_set(TRUE);
        vips_operation_block_set("VipsForeignLoadMagick", FALSE);
        vips_operation_block_set("VipsForeignSaveMagick", FALSE);
        g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                          dropVipsWarning, nullptr);
        started = true;
    });
    if (!started) throw ConversionError::backendFailure("image", -1, "libvips could not be started");
}

VipsThreadShare::VipsThreadShare() {
    std::lock_guard lock(shareMutex);
    ++pictures;
    shareThreads();
}

VipsThreadShare::~VipsThreadShare() {
    std::lock_guard lock(shareMutex);
    --pictures;
    shareThreads();
}

int VipsThreadShare::threadsFor(int processors, int pictures) {
    // Two threads let a picture's decoding and its pixel work overlap; more only wait on the
    // decoder or the encoder, which run on one thread each.
    processors = std::max(processors, 1);
    return std::max(std::min(2, processors), processors / std::max(pictures, 1));
}

}  // namespace kolvex::image
