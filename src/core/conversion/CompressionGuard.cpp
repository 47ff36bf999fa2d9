// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/CompressionGuard.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/services/Log.h"
#include "core/services/WorkInProgress.h"
#include "core/services/UniqueFd.h"

namespace kolvex {

namespace {

namespace fs = std::filesystem;

std::optional<int64_t> regularFileSize(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return static_cast<int64_t>(info.st_size);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool copyContents(int from, int to) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        if (!writeAll(to, buffer.data(), static_cast<size_t>(got))) return false;
    }
}

// Puts an exact copy of `source` at `produced`. The copy is made beside `produced` and renamed
// over it in one step, so whatever goes wrong the user is left with one of the two files.
bool replaceWithCopy(const fs::path& source, const fs::path& produced) {
    struct stat producedInfo {};
    if (::stat(produced.c_str(), &producedInfo) != 0) return false;

    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return false;

    std::string pattern = (produced.parent_path() / ".kolvex-keep-XXXXXX").string();
    UniqueFd out(::mkostemp(pattern.data(), O_CLOEXEC));
    if (out.get() < 0) return false;
    const fs::path temporary = pattern;
    // Recorded like every partial file of ours, so a kill during the copy leaves nothing behind.
    const WorkInProgress::Entry recorded = WorkInProgress::shared().add(fs::absolute(temporary));

    bool ok = copyContents(in.get(), out.get()) && ::fchmod(out.get(), producedInfo.st_mode & 07777) == 0 &&
              ::fsync(out.get()) == 0;
    ok = out.close() == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), produced.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace

CompressionGuard::Outcome CompressionGuard::keepSmaller(const ConversionJob& job, const fs::path& produced) noexcept {
    const Outcome unchanged{produced, false};
    try {
        if (job.options.tool != "compress") return unchanged;
        if (job.from.id != job.to.id) return unchanged;

        auto sourceSize = regularFileSize(job.source);
        auto producedSize = regularFileSize(produced);
        if (!sourceSize || !producedSize) return unchanged;
        if (*producedSize < *sourceSize) return unchanged;

        // Replacing a file by itself would gain nothing and could only lose it.
        std::error_code ec;
        if (fs::equivalent(job.source, produced, ec) || ec) return unchanged;

        if (!replaceWithCopy(job.source, produced)) return unchanged;
        Log::engine().info("compress: {} could not be made smaller, kept the original", job.from.label);
        return Outcome{produced, true};
    } catch (...) {
        // Out of memory while building a path or a log line: the produced file is still there.
        return unchanged;
    }
}

}  // namespace kolvex
