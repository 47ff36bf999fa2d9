// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/format/RingTarget.h"

namespace kolvex::testing {

// Ring targets as the registry makes them: "format.<id>" with the id as its extension, and
// "tool.<id>"; the label is the id when none is given.
RingTarget formatTarget(const std::string& id, const std::string& label = {});
RingTarget toolTarget(const std::string& id, const std::string& label = {});

}  // namespace kolvex::testing
