// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

namespace kolvex {

class SheetRequest;

// The sheet of one tool, chosen by ToolSheetFactory by tool id. A presenter keeps nothing of
// its own: everything about one request, and every way it can end, is in the request.
// GUI thread only.
class ToolSheetPresenter {
public:
    virtual ~ToolSheetPresenter() = default;
    // Reads what the sheet needs (off the GUI thread, through the request), shows it, and ends
    // the request from the sheet's buttons.
    virtual void present(const std::shared_ptr<SheetRequest>& request) const = 0;
};

}  // namespace kolvex
