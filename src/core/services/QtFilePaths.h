// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <QByteArray>
#include <QFile>
#include <QString>

// File paths handed to Qt as the bytes they are. Qt turns a QString path back into bytes as
// UTF-8, so a name that is not UTF-8 (a Latin-1 "café" from an old archive or camera) cannot be
// reached through a QString at all: open the file ourselves and give Qt the open device, or spell
// the path as a percent-encoded URI. Header only, for the parts that use Qt anyway.
namespace kolvex::qtpaths {

// Opens `path` into `file`, which owns the descriptor from then on. Read-only opens an existing
// regular file (never waiting on a FIFO or a device); write-only creates a new one (never an
// existing one: the writer's name is its own) with the usual permissions under the umask. False,
// with `file` left closed, when the open fails.
inline bool open(QFile& file, const std::filesystem::path& path, QIODevice::OpenMode mode) {
    const bool writing = mode.testFlag(QIODevice::WriteOnly);
    const int flags = O_CLOEXEC | (writing ? (O_WRONLY | O_CREAT | O_EXCL) : (O_RDONLY | O_NONBLOCK));
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return false;
    struct stat facts {};
    if (!writing && (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode))) {
        ::close(fd);
        return false;
    }
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle)) return true;
    ::close(fd);
    return false;
}

// "file://" and the path's bytes, percent-encoded: a URI that names exactly this file. (The bytes
// are encoded as bytes: QUrl::toPercentEncoding takes text, and would read them as UTF-8 first.)
inline QString fileUri(const std::filesystem::path& path) {
    return QStringLiteral("file://") +
           QString::fromLatin1(QByteArray::fromStdString(path.native()).toPercentEncoding("/"));
}

}  // namespace kolvex::qtpaths
