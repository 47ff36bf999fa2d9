// SPDX-License-Identifier: GPL-3.0-or-later
#include "SharedEngines.h"

namespace kolvex::testing {

const RealEngines& sharedEngines() {
    static const RealEngines assembled = RealEngines::assemble();
    return assembled;
}

}  // namespace kolvex::testing
