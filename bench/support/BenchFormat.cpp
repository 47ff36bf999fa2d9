// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/BenchFormat.h"

namespace kolvex {

Format benchFormat(const std::string& id, FormatCategory category) {
    Format format;
    format.id = FormatID(id);
    format.category = category;
    format.extensions = {id};
    format.label = id;
    return format;
}

}  // namespace kolvex
