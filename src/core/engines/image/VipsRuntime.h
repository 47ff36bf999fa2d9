// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex::image {

// Starts libvips once per process, the way every use of it here needs it: the operation cache
// off (a cached load by path would return stale pixels after the file is rewritten), untrusted
// loaders and savers blocked except ImageMagick's (icons need it; the engine admits only files
// whose content is one of those formats), and libvips' own warnings kept off stderr.
// Thread-safe; cheap after the first call. Throws ConversionError when libvips cannot start.
void ensureVipsStarted();

// The threads libvips gives each picture it computes, shared out among the pictures being
// converted at once: the processors divided by the number of live VipsThreadShare objects, at
// least two (one on a single processor). A batch of images then keeps every processor busy with
// one image each instead of crowding each with a thread per processor, and a single image still
// gets them all. Hold one
// for the whole of a conversion; libvips reads the count when a picture's computation starts.
// Thread-safe.
class VipsThreadShare {
public:
    VipsThreadShare();
    ~VipsThreadShare();
    VipsThreadShare(const VipsThreadShare&) = delete;
    VipsThreadShare& operator=(const VipsThreadShare&) = delete;

    // The threads per picture while `pictures` are converted at once on `processors`.
    static int threadsFor(int processors, int pictures);
};

}  // namespace kolvex::image
