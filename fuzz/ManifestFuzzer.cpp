// SPDX-License-Identifier: GPL-3.0-or-later
// The format manifest: decoding and building the registry's tables from any bytes.
#include "FuzzInput.h"

#include "core/format/FormatManifest.h"
#include "core/format/FormatRegistry.h"
#include "core/services/StrictJson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    try {
        FormatRegistry registry(FormatManifest::decode(fuzz::text(data, size)));
        (void)registry.formatFor("/tmp/a.tar.gz");
        (void)registry.formatForExtension("PNG");
    } catch (const json::JsonError&) {
    } catch (const FormatRegistry::LoadError&) {
    }
    return 0;
}
