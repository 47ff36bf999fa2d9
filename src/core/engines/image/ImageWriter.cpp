// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/ImageWriter.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "core/engines/image/ImageLimits.h"
#include "core/engines/image/ImageMetadata.h"
#include "core/engines/image/JpegSegments.h"
#include "core/engines/image/TiffExif.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/FileManagerService.h"
#include "core/services/UniqueFd.h"

namespace kolvex::image {

namespace {

// A JPEG's headers larger than this are not a JPEG libvips wrote.
constexpr size_t kMaxJpegHeaders = size_t{16} << 20;

// How the saver's bytes reach the file.
enum class Route {
    stream,       // as they come
    jpegHeaders,  // the headers are held until the first scan, cleaned, then the rest streams
    whole,        // gathered and reworked at the end (the WebP saver makes its file in memory anyway)
};

// What the volume of the open file `fd` has free, with what the file takes on it.
std::optional<int64_t> freeOnceGone(int fd) {
    struct statvfs volume {};
    struct stat file {};
    if (::fstatvfs(fd, &volume) != 0 || ::fstat(fd, &file) != 0) return std::nullopt;
    return static_cast<int64_t>(volume.f_bavail) * static_cast<int64_t>(volume.f_frsize) +
           static_cast<int64_t>(file.st_blocks) * 512;
}

// The file end of a libvips custom target. Called from the saver's thread only.
class Sink {
public:
    using Rework = std::function<std::optional<std::string>(std::string)>;

    Sink(int fd, Route route, Rework rework, std::stop_token stop)
        : m_fd(fd), m_route(route), m_rework(std::move(rework)), m_stop(std::move(stop)) {}

    int error() const { return m_error; }
    bool stopped() const { return m_stopped; }
    bool reworkFailed() const { return m_reworkFailed; }
    int64_t written() const { return m_written; }
    // What the volume had free when it filled up, with what this file held then: the room the
    // job had beside whatever else filled it, before anything was removed.
    std::optional<int64_t> freeWhenFull() const { return m_freeWhenFull; }
    // What the saver handed over in all, written or not: once the volume is full the saver goes
    // on into nothing, so that the need told is the file's real size.
    int64_t needed() const { return m_counting ? std::max(m_countedEnd, m_written) : m_written; }

    gint64 write(const void* data, gint64 length) {
        if (m_stop.stop_requested()) {
            m_stopped = true;
            return -1;
        }
        const std::string_view bytes(static_cast<const char*>(data), static_cast<size_t>(length));
        switch (m_route) {
            case Route::stream:
                return put(bytes) ? length : -1;
            case Route::whole:
                m_held.replace(m_position, std::min(bytes.size(), m_held.size() - m_position), bytes);
                m_position += bytes.size();
                return length;
            case Route::jpegHeaders:
                m_held.append(bytes);
                if (auto layout = JpegSegments::read(m_held); layout && layout->scanStart > 0) {
                    auto clean = JpegSegments::withoutMetadata(m_held);
                    m_held.clear();
                    m_route = Route::stream;
                    if (!clean) return fail();
                    return put(*clean) ? length : -1;
                }
                return m_held.size() > kMaxJpegHeaders ? fail() : length;
        }
        return -1;
    }

    // libtiff reads back and seeks while it writes.
    gint64 read(void* buffer, gint64 length) {
        if (m_counting) return -1;  // what was not written cannot be read back
        if (m_route == Route::whole) {
            const size_t count = std::min(static_cast<size_t>(length), m_held.size() - std::min(m_position, m_held.size()));
            m_held.copy(static_cast<char*>(buffer), count, m_position);
            m_position += count;
            return static_cast<gint64>(count);
        }
        if (m_route != Route::stream) return -1;
        const ssize_t count = ::read(m_fd, buffer, static_cast<size_t>(length));
        if (count < 0) m_error = errno;
        return count;
    }

    gint64 seek(gint64 offset, int whence) {
        if (m_counting) {
            const gint64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m_countedAt : m_countedEnd;
            if (base + offset < 0) return -1;
            m_countedAt = base + offset;
            return m_countedAt;
        }
        if (m_route == Route::whole) {
            const auto base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<gint64>(m_position)
                                                                          : static_cast<gint64>(m_held.size());
            if (base + offset < 0) return -1;
            m_position = static_cast<size_t>(base + offset);
            if (m_position > m_held.size()) m_held.resize(m_position, '\0');
            return static_cast<gint64>(m_position);
        }
        if (m_route != Route::stream) return -1;
        const off_t at = ::lseek(m_fd, offset, whence);
        if (at < 0) m_error = errno;
        return at;
    }

    int end() {
        if (m_ended) return 0;
        m_ended = true;
        if (m_route == Route::jpegHeaders) return fail();  // no picture followed the headers
        if (m_route == Route::whole) {
            auto reworked = m_rework(std::move(m_held));
            m_held.clear();
            if (!reworked) return fail();
            return put(*reworked) ? 0 : -1;
        }
        return 0;
    }

private:
    bool put(std::string_view bytes) {
        if (m_counting) {
            countUnwritten(bytes.size());
            return true;
        }
        while (!bytes.empty()) {
            const ssize_t count = ::write(m_fd, bytes.data(), bytes.size());
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) {
                m_error = errno;
                if (m_error != ENOSPC && m_error != EDQUOT) return false;
                m_counting = true;
                m_freeWhenFull = freeOnceGone(m_fd);
                const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
                m_countedAt = at >= 0 ? static_cast<int64_t>(at) : m_written;
                m_countedEnd = std::max(m_countedAt, m_written);
                countUnwritten(bytes.size());
                return true;
            }
            bytes.remove_prefix(static_cast<size_t>(count));
            m_written += count;
        }
        return true;
    }

    int fail() {
        m_reworkFailed = true;
        return -1;
    }

    void countUnwritten(size_t bytes) {
        m_countedAt += static_cast<int64_t>(bytes);
        m_countedEnd = std::max(m_countedEnd, m_countedAt);
    }

    int m_fd;
    Route m_route;
    Rework m_rework;
    std::stop_token m_stop;
    std::string m_held;
    size_t m_position = 0;
    int64_t m_written = 0;
    bool m_counting = false;  // the volume is full: bytes are counted, no longer written
    int64_t m_countedAt = 0;
    int64_t m_countedEnd = 0;
    int m_error = 0;
    std::optional<int64_t> m_freeWhenFull;
    bool m_stopped = false;
    bool m_reworkFailed = false;
    bool m_ended = false;
};

gint64 onWrite(VipsTargetCustom*, void* data, gint64 length, Sink* sink) { return sink->write(data, length); }
gint64 onRead(VipsTargetCustom*, void* buffer, gint64 length, Sink* sink) { return sink->read(buffer, length); }
gint64 onSeek(VipsTargetCustom*, gint64 offset, int whence, Sink* sink) { return sink->seek(offset, whence); }
int onEnd(VipsTargetCustom*, Sink* sink) { return sink->end(); }

bool isPermissionError(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOENT || error == ENOTDIR;
}

// `freeWhenFull`: the room the file had when the volume filled up, when that was read then.
[[noreturn]] void throwWriteError(int error, int64_t written, const StagedOutput& output,
                                  std::optional<int64_t> freeWhenFull = std::nullopt) {
    if (isPermissionError(error)) throw ConversionError::insufficientPermissions(output.destination());
    if (error == ENOSPC || error == EDQUOT) {
        // Free is what the volume has once this partial file is gone, beside the files of any
        // neighbours that filled it with this one: read as it filled, for a saver that went on
        // counting while they may have gone.
        const auto& files = FileManagerService::shared();
        const int64_t now = files.availableCapacity(output.path()).value_or(0) + files.allocatedSize(output.path()).value_or(0);
        throw ConversionError::insufficientDiskSpace(written, freeWhenFull.value_or(now));
    }
    throw std::filesystem::filesystem_error("Could not write the output", output.path(),
                                            std::error_code(error, std::generic_category()));
}

bool hasTargetSaver(const ImageCodec& codec) {
    const std::string name = std::string(codec.saver) + "_target";
    return vips_type_find("VipsOperation", name.c_str()) != 0;
}

}  // namespace

void ImageWriter::save(const vips::VImage& picture, const ImageCodec& codec, const Request& request,
                       StagedOutput& output, const std::stop_token& stop) {
    throwIfStopRequested(stop);
    output.write({});  // created exclusively, with the folder's refusals told apart
    // A saver that fails on a full disk often says no more than that it failed: the volume tells.
    // The need is the picture's pixels as they are, what an uncompressed file holds.
    const int64_t pixels = int64_t{picture.width()} * picture.height() * picture.bands() *
                           static_cast<int64_t>(vips_format_sizeof(picture.format()));
    const auto throwIfDiskFull = [&] {
        if (auto full = ErrorMapper::fullVolume(ErrorMapper::Subject(output.destination(), "image"), output.path(),
                                                FileManagerService::shared(), pixels)) {
            vips_error_clear();
            throw *full;
        }
    };
    const auto options = [&] {
        vips::VOption* chosen = ImageFormatTable::saverOptions(codec, request.quality);
        if (codec.saver == "heifsave") {
            const int bits = picture.format() == VIPS_FORMAT_UCHAR ? 8 : request.sourceBits;
            chosen->set("bitdepth", ImageLimits::heifBitDepth(codec, bits));
        }
        if (request.effort && codec.saver == "webpsave") chosen->set("effort", *request.effort);
        return chosen;
    };
    Route route = Route::stream;
    Sink::Rework rework;
    if (request.strip && codec.saver == "jpegsave") {
        route = Route::jpegHeaders;
    } else if (request.strip && codec.saver == "webpsave") {
        route = Route::whole;
        rework = [](std::string webp) { return ImageMetadata::withoutWebpMetadata(webp); };
    } else if (!request.strip && !request.tiffExif.empty() && codec.saver == "tiffsave") {
        route = Route::whole;
        // A TIFF whose EXIF cannot be placed is still a whole picture: it goes without.
        rework = [exif = request.tiffExif](std::string tiff) -> std::optional<std::string> {
            auto tagged = TiffExif::embed(tiff, exif);
            return tagged ? std::move(*tagged) : std::move(tiff);
        };
    }

    UniqueFd fd(::open(output.path().c_str(), O_RDWR | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) throwWriteError(errno, 0, output);
    Sink sink(fd.get(), route, std::move(rework), stop);
    if (!hasTargetSaver(codec)) {
        // ImageMagick's saver writes only by name, through stdio that keeps the cause of a failed
        // write to itself: the file is made in memory and written here like every other saver's,
        // so that a full volume is told with what the file needs.
        VipsBlob* blob = nullptr;
        try {
            vips::VImage::call((std::string(codec.saver) + "_buffer").c_str(),
                               options()->set("in", picture)->set("buffer", &blob));
        } catch (const vips::VError&) {
            throwIfDiskFull();  // the saver's own scratch files
            throw;
        }
        const std::unique_ptr<VipsArea, decltype(&vips_area_unref)> encoded(VIPS_AREA(blob), &vips_area_unref);
        if (!encoded) throw ConversionError::backendFailure("image", -1, "The " + request.label + " saver wrote nothing");
        sink.write(encoded->data, static_cast<gint64>(encoded->length));
        if (sink.stopped()) throw OperationCancelled();
    } else {
        vips::VTarget target(VIPS_TARGET(vips_target_custom_new()));
        g_signal_connect(target.get_target(), "write", G_CALLBACK(onWrite), &sink);
        g_signal_connect(target.get_target(), "read", G_CALLBACK(onRead), &sink);
        g_signal_connect(target.get_target(), "seek", G_CALLBACK(onSeek), &sink);
        g_signal_connect(target.get_target(), "end", G_CALLBACK(onEnd), &sink);
        try {
            vips::VImage::call((std::string(codec.saver) + "_target").c_str(),
                               options()
                                   ->set("in", picture)
                                   ->set("target", target));
        } catch (const vips::VError&) {
            if (sink.stopped()) {
                vips_error_clear();
                throw OperationCancelled();
            }
            if (sink.error()) {
                vips_error_clear();
                throwWriteError(sink.error(), sink.needed(), output, sink.freeWhenFull());
            }
            if (sink.reworkFailed()) {
                vips_error_clear();
                throw ConversionError::backendFailure("image", -1,
                                                      "Could not remove the metadata from the " + request.label + " file");
            }
            throwIfDiskFull();
            throw;
        }
    }
    // A saver that went on past a full volume has said how much it needed.
    if (sink.error()) throwWriteError(sink.error(), sink.needed(), output, sink.freeWhenFull());
    if (const int error = fd.close()) throwWriteError(error, sink.needed(), output, sink.freeWhenFull());
}

}  // namespace kolvex::image
