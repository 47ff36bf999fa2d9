// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "core/format/Identifiers.h"

namespace kolvex {

// Which codecs each known container can store (ffmpeg codec names, lower-case). The table is
// fixed; every function is pure and safe from any thread.
class ContainerCompatibility {
public:
    // True when `container` (an exact, case-sensitive format id) has a row.
    static bool isKnownContainer(const FormatID& container);
    // True when the container has a row holding `codec` lower-cased.
    static bool accepts(const std::string& codec, const FormatID& container);
    // True for the containers whose writers keep a display-matrix rotation (MP4, M4V, QuickTime);
    // this FFmpeg's Matroska and WebM writers drop it.
    static bool keepsRotation(const FormatID& container);
    // True for the containers whose writers keep an edit list, hiding what a copied cut's source
    // hides (MP4, M4V, QuickTime, M4A); the others show it.
    static bool keepsEditList(const FormatID& container);
    // False for the containers this FFmpeg writes no chapters into (AVI, WAV, AIFF, bare AAC).
    static bool keepsChapters(const FormatID& container);
    // The first of m4a, mp3, flac, wav, aiff, opus, ogg that can hold `codec`, if any.
    static std::optional<FormatID> audioContainer(const std::string& codec);
};

}  // namespace kolvex
