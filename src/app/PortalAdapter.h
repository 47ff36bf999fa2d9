// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "app/PortalConnection.h"

namespace kolvex {

// The Portal the application runs with.
PortalFactory portalFactory();

}  // namespace kolvex
