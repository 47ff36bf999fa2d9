#include "core/engines/pdf/VipsRuntime.h"

#include <mutex>
#include <stdexcept>

#include <vips/vips.h>

namespace kolvex {

void ensureVipsStarted() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        if (vips_init("kolvex") != 0) {
            vips_error_clear();
            return;
        }
        vips_cache_set_max(0);
        vips_block_untrusted_set(TRUE);
        started = true;
    });
    if (!started) throw std::runtime_error("libvips could not be started");
}

}  // namespace kolvex
