#pragma once

namespace kolvex {

// Starts libvips once per process with the settings this program relies on: no operation
// cache (a cached load by path returns stale pixels after the file is rewritten) and no
// loaders that hand untrusted files to ImageMagick. Any thread; cheap after the first call.
// Throws std::runtime_error when libvips cannot start.
void ensureVipsStarted();

}  // namespace kolvex
