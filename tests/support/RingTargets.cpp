// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/RingTargets.h"

namespace kolvex::testing {

RingTarget formatTarget(const std::string& id, const std::string& label) {
    RingTarget t;
    t.id = "format." + id;
    t.label = label.empty() ? id : label;
    t.kind = RingTarget::Kind::format;
    t.formatID = FormatID(id);
    t.fileExtension = id;
    return t;
}

RingTarget toolTarget(const std::string& id, const std::string& label) {
    RingTarget t;
    t.id = "tool." + id;
    t.label = label.empty() ? id : label;
    t.kind = RingTarget::Kind::tool;
    t.toolID = id;
    return t;
}

}  // namespace kolvex::testing
