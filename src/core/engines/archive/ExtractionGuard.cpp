// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/archive/ExtractionGuard.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <system_error>

#include "core/services/FolderTree.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

std::optional<int64_t> freeBytes(const fs::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

// Bytes the folder's entries occupy on disk (a sparse file counts only what it holds), however
// deep the tree, at a cost that grows with its depth alone.
int64_t occupiedBytes(const fs::path& folder) { return folder_tree::occupiedBytes(folder); }

}  // namespace

int64_t ExtractionGuard::reserve(int64_t free, const Limits& limits) {
    return std::min(limits.minimumFreeBytes, std::max<int64_t>(free, 0) / 4);
}

int64_t ExtractionGuard::allowance(int64_t declaredBytes, int64_t entries) {
    return declaredBytes + entries * (int64_t{16} << 10) + (int64_t{4} << 20);
}

ExtractionGuard::ExtractionGuard(fs::path folder, Limits limits, std::stop_source stop,
                                 std::optional<int64_t> declaredBytes, int64_t entries)
    : m_folder(std::move(folder)),
      m_limits(limits),
      m_stop(std::move(stop)),
      m_initialFree(freeBytes(m_folder)),
      m_declared(declaredBytes) {
    if (m_initialFree) m_reserve = reserve(*m_initialFree, m_limits);
    if (m_declared) m_allowance = allowance(*m_declared, entries);
    m_watcher = std::jthread([this](std::stop_token token) { watch(std::move(token)); });
}

ExtractionGuard::~ExtractionGuard() {
    m_watcher.request_stop();
    m_wake.notify_all();
}

void ExtractionGuard::watch(std::stop_token token) {
    std::unique_lock lock(m_mutex);
    while (!token.stop_requested()) {
        m_wake.wait_for(lock, token, m_limits.pollInterval, [] { return false; });
        if (token.stop_requested()) return;
        if (sample()) return;
    }
}

bool ExtractionGuard::sample() {
    if (tripped()) return true;
    if (!m_initialFree) return false;
    const auto now = freeBytes(m_folder);
    if (!now) return false;
    const int64_t used = std::max<int64_t>(*m_initialFree - *now, 0);
    if (*now < m_reserve || (m_limits.maxExtractedBytes && used > *m_limits.maxExtractedBytes)) {
        trip(Trip::lowOnSpace, used);
        return true;
    }
    // The volume's free space also falls when other programs write: only what the folder
    // itself holds counts against what the archive declared.
    if (m_allowance && used > *m_allowance) {
        const int64_t occupied = occupiedBytes(m_folder);
        if (occupied > *m_allowance) {
            trip(Trip::overDeclared, occupied);
            return true;
        }
    }
    return false;
}

void ExtractionGuard::trip(Trip why, int64_t used) {
    m_usedAtTrip = used;
    m_trip = why;
    m_stop.request_stop();
}

bool ExtractionGuard::finalCheck() {
    {
        std::lock_guard lock(m_mutex);
        if (sample()) return true;
    }
    if (m_limits.maxExtractedBytes || m_allowance) {
        const int64_t occupied = occupiedBytes(m_folder);
        if (m_limits.maxExtractedBytes && occupied > *m_limits.maxExtractedBytes) {
            trip(Trip::lowOnSpace, occupied);
            return true;
        }
        if (m_allowance && occupied > *m_allowance) {
            trip(Trip::overDeclared, occupied);
            return true;
        }
    }
    return false;
}

ConversionError ExtractionGuard::error(const fs::path& archive, std::optional<int64_t> projected) const {
    // More than it declared: its headers lie, whatever room there is.
    if (m_trip.load() == Trip::overDeclared) return ConversionError::corruptedInput(archive);
    // The room is what the volume had free; the need, what unpacking writes and the reserve it
    // leaves. A cap below that room is the limit told instead.
    const int64_t free = std::max<int64_t>(m_initialFree.value_or(0), 0);
    int64_t room = free;
    int64_t kept = m_reserve;
    if (m_limits.maxExtractedBytes && *m_limits.maxExtractedBytes < free - m_reserve) {
        room = *m_limits.maxExtractedBytes;
        kept = 0;
    }
    const int64_t writes = m_declared ? *m_declared : std::max(m_usedAtTrip.load(), projected.value_or(0));
    // What unpacking writes fitted the room with the reserve: another writer took it meanwhile,
    // and the need is what unpacking writes with the reserve kept beside it (job execution tells
    // what is free by then).
    if (m_trip.load() == Trip::lowOnSpace && writes > 0 && writes + kept <= room)
        return ConversionError::insufficientDiskSpace(writes + kept, room);
    return ConversionError::insufficientDiskSpace(std::max(writes + kept, room + 1), room);
}

}  // namespace kolvex
