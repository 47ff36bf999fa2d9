// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/ffmpeg/CutPlan.h"

namespace kolvex::testing {

// A picture stream at 10 pictures a second: a keyframe every `gop` pictures and `bframes` B
// pictures between anchors, decoded after the anchor that follows them. An open group's
// keyframe is decoded before the B pictures shown just before it.
StreamCopyCuts pictureStream(double seconds, int gop, int bframes, bool open);

// The question a trim or split sheet asks of a 10-second file like this: the tool's job, its
// probe (no video codec: a sound file) and its pictures.
std::shared_ptr<const CutQuestion> question(const char* container, FormatCategory category, const char* label,
                                            std::optional<std::string> video, std::string sound,
                                            std::optional<StreamCopyCuts> cuts, const char* tool = "trim");

}  // namespace kolvex::testing
