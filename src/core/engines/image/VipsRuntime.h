#pragma once

namespace kolvex::image {

// Starts libvips once per process, the way every use of it here needs it: the operation cache
// off (a cached load by path would return stale pixels after the file is rewritten), untrusted
// loaders and savers blocked except ImageMagick's (icons need it; the engine admits only files
// whose content is one of those formats), and libvips' own warnings kept off stderr.
// Thread-safe; cheap after the first call. Throws ConversionError when libvips cannot start.
void ensureVipsStarted();

}  // namespace kolvex::image
