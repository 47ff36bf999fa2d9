// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/DragPayload.h"

#include <fmt/format.h>

#include "core/services/PathUtils.h"

namespace kolvex {

DragPayload DragPayload::pendingFiles() {
    DragPayload payload;
    payload.pending = true;
    return payload;
}

std::optional<std::filesystem::path> DragPayload::primary() const {
    if (urls.empty()) return std::nullopt;
    return urls.front();
}

std::string DragPayload::label() const {
    if (urls.empty()) return {};
    if (urls.size() == 1) return paths::lastComponent(urls.front());
    return fmt::format("{} files", urls.size());
}

void DragPayload::complete(std::vector<std::filesystem::path> files) {
    urls = std::move(files);
    pending = false;
}

}  // namespace kolvex
