// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RealEngines.h"

namespace kolvex::testing {

// The registry and every engine this build has, assembled once for the whole test program.
const RealEngines& sharedEngines();

}  // namespace kolvex::testing
