// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/format/FormatManifest.h"

namespace kolvex {

// A format of this category whose id, only extension and label are all `id`.
Format benchFormat(const std::string& id, FormatCategory category);

}  // namespace kolvex
