#pragma once

#include <memory>

#include "app/PortalConnection.h"
#include "app/ToolSheetPresenter.h"

namespace kolvex {

// The Portal the application runs with.
PortalFactory portalFactory();
// The settings sheets of the Portal's tools; none until they are built.
std::shared_ptr<ToolSheetPresenter> toolSheetPresenter();

}  // namespace kolvex
