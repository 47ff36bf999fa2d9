// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "app/ToolSheetPresenter.h"

namespace kolvex {

// The presenters of the tool sheets, keyed by tool id. Immutable once built; GUI thread only.
class ToolSheetFactory {
public:
    ToolSheetFactory& add(const std::string& toolID, std::shared_ptr<const ToolSheetPresenter> presenter);
    // None for a tool without a sheet.
    const ToolSheetPresenter* presenter(const std::string& toolID) const;
    std::set<std::string> toolIDs() const;

    // Every sheet of the application: one per tool that opens one.
    static std::shared_ptr<const ToolSheetFactory> standard();

private:
    std::map<std::string, std::shared_ptr<const ToolSheetPresenter>> m_presenters;
};

}  // namespace kolvex
