// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/ToolSheetPresenter.h"

namespace kolvex {

// The sheets of the time-based tools and the merge order. The trim and split sheets open as
// soon as the file's duration is known and fill in keyframes and the waveform as they arrive.

// Trim (`split` false) and split (`split` true) of one video or audio file. Split of any other
// file runs at once with the default options; either needs FFmpeg.
class TimelinePresenter final : public ToolSheetPresenter {
public:
    explicit TimelinePresenter(bool split) : m_split(split) {}
    void present(const std::shared_ptr<SheetRequest>& request) const override;

private:
    bool m_split;
};

// Extract audio: the original track or a re-encode; without FFmpeg or an audio track it runs
// with the defaults, and the conversion says what is wrong.
class ExtractAudioPresenter final : public ToolSheetPresenter {
public:
    void present(const std::shared_ptr<SheetRequest>& request) const override;
};

// Merge: the order of the files.
class MergeOrderPresenter final : public ToolSheetPresenter {
public:
    void present(const std::shared_ptr<SheetRequest>& request) const override;
};

}  // namespace kolvex
