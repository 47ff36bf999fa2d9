#pragma once

#include <memory>

#include "app/PortalConnection.h"

namespace kolvex {

// The Portal the application runs with.
PortalFactory portalFactory();

}  // namespace kolvex
