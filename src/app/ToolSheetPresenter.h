#pragma once

#include <filesystem>

#include "core/format/RingTarget.h"
#include "interaction/DragPayload.h"

namespace kolvex {

class ToolParameterFlow;

// Shows the settings sheet of one tool. The sheet ends through the flow: `flow.presentParameters`
// to show it, then `flow.handBack`/`flow.applyToOne`… on Apply and `flow.cancelSheet()` on Cancel.
// GUI thread only.
class ToolSheetPresenter {
public:
    virtual ~ToolSheetPresenter() = default;
    // Starts the sheet of `target.toolID` for `file` (the payload's first file, or the walk's
    // current one). False when this presenter has no sheet for the tool; the flow then decides.
    virtual bool present(ToolParameterFlow& flow, const RingTarget& target, const DragPayload& payload,
                         const std::filesystem::path& file) = 0;
};

}  // namespace kolvex
