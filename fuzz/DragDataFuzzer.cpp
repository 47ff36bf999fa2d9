// SPDX-License-Identifier: GPL-3.0-or-later
// The data a drag source hands out, for every type we ask for. Nothing may come out that is not
// an absolute path.
#include <cstdlib>

#include "FuzzInput.h"

#include "interaction/DragData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    const auto text = fuzz::text(data, size);
    for (auto type : {drag_data::kUriList, drag_data::kMozUrl, drag_data::kNetscapeUrl, drag_data::kPlainText}) {
        for (const auto& path : drag_data::filesFrom(type, text)) {
            if (!path.is_absolute()) std::abort();
        }
    }
    (void)drag_data::pathFromFileUri(text);
    (void)drag_data::utf8FromUtf16(text, true);
    return 0;
}
