// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ffmpeg/MediaProbe.h"

namespace kolvex::testing {

// A prober that answers the same facts for every file.
class FixedProber : public WholeProbing {
public:
    explicit FixedProber(MediaProbe probe) : m_probe(std::move(probe)) {}
    MediaProbe probe(const std::filesystem::path&, std::stop_token) const override { return m_probe; }

private:
    MediaProbe m_probe;
};

}  // namespace kolvex::testing
