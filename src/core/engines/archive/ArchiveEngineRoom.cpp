// SPDX-License-Identifier: GPL-3.0-or-later
// The archive engine's watch over the room an unpacking takes: refused before anything is
// written when what is declared or recorded does not fit, stopped while it runs when the volume
// runs low, and told with what the whole unpacking needs.
#include <stop_token>
#include <system_error>

#include "core/engines/archive/ArchiveEngine.h"
#include "core/engines/archive/ArchiveSpace.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"

namespace kolvex {

namespace fs = std::filesystem;

void ArchiveEngine::ensureRoom(const ArchiveSurvey& survey, const fs::path& folder) const {
    if (!survey.sizesKnown) return;
    const auto& cap = m_settings.limits.maxExtractedBytes;
    if (cap && survey.declaredBytes > *cap) throw ConversionError::insufficientDiskSpace(survey.declaredBytes, *cap);
    const auto free = m_files->availableCapacity(folder / "");
    if (!free) return;
    const int64_t needed = survey.declaredBytes + ExtractionGuard::reserve(*free, m_settings.limits);
    if (needed > *free) throw ConversionError::insufficientDiskSpace(needed, *free);
}

void ArchiveEngine::refuseStreamBeyondRoom(const ConversionJob& job, const ArchiveSurvey& survey,
                                           const fs::path& folder) const {
    const auto recorded = ArchiveSpace::recordedLength(job, *m_files);
    if (!recorded) return;
    ArchiveSurvey known = survey;
    known.declaredBytes = *recorded;
    known.sizesKnown = true;
    ensureRoom(known, folder);
}

void ArchiveEngine::guarded(const ConversionJob& job, const ArchiveSurvey& survey, const fs::path& folder,
                            const std::function<void(std::stop_token)>& work, std::stop_token stop,
                            const SingleStream::Meter* meter) const {
    // A stream that records nothing needs what the share unpacked so far says the whole will.
    const auto projected = [&]() -> std::optional<int64_t> {
        const auto size = meter ? m_files->size(job.source) : std::nullopt;
        return size ? meter->projected(*size) : std::nullopt;
    };
    // One that records its length (an .xz's index, a gzip trailer) needs that, and the room the
    // guard keeps free beside it, whatever else took the volume's room meanwhile.
    const auto recorded = meter ? ArchiveSpace::recordedLength(job, *m_files) : std::nullopt;
    const auto tripped = [&](const ExtractionGuard& guard) {
        const ConversionError error = guard.error(job.source, projected());
        if (!recorded || error.kind() != ConversionError::Kind::insufficientDiskSpace) return error;
        return ConversionError::insufficientDiskSpace(*recorded + guard.reserved(), error.available());
    };
    // A full disk met while writing needs the whole: what the archive declares, else the projection.
    const auto withProjection = [&](const ConversionError& error) {
        const auto whole =
            survey.sizesKnown && survey.declaredBytes > 0 ? std::optional(survey.declaredBytes) : recorded ? recorded : projected();
        if (error.kind() != ConversionError::Kind::insufficientDiskSpace || !whole || *whole <= error.required())
            return error;
        return ConversionError::insufficientDiskSpace(*whole, error.available());
    };
    // The guard stops the work through a stop source of our own that also follows the job's.
    std::stop_source local;
    std::stop_callback forward(stop, [&local] { local.request_stop(); });
    ExtractionGuard guard(folder, m_settings.limits, local,
                          survey.sizesKnown ? std::optional(survey.declaredBytes) : std::nullopt, survey.entries);
    try {
        work(local.get_token());
    } catch (const OperationCancelled&) {
        if (guard.tripped()) throw tripped(guard);
        throw;
    } catch (const ConversionError& error) {
        // A disk that filled up before the guard saw it fails the work with its own message.
        if (guard.tripped()) throw tripped(guard);
        throw withProjection(error);
    } catch (const std::system_error& error) {
        if (guard.tripped()) throw tripped(guard);
        if (auto mapped = ErrorMapper::fromSystemError(error.code(), job, *m_files)) throw withProjection(*mapped);
        throw;
    }
    if (guard.finalCheck()) throw tripped(guard);
}

}  // namespace kolvex
