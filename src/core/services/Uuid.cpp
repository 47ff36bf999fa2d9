// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/Uuid.h"

#include <uuid/uuid.h>

namespace kolvex {

Uuid Uuid::random() {
    Uuid id;
    uuid_generate_random(id.m_bytes.data());
    return id;
}

std::string Uuid::toString() const {
    char text[37];
    uuid_unparse_upper(m_bytes.data(), text);
    return std::string(text);
}

}  // namespace kolvex
