// SPDX-License-Identifier: GPL-3.0-or-later
// A failed program's standard error mapped to the error the user sees. The first byte picks the
// program and the exit code.
#include "FuzzInput.h"

#include "core/format/ConversionError.h"
#include "core/services/ErrorMapper.h"
#include "core/services/FileManagerService.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    if (size == 0) return 0;
    const auto program = static_cast<ErrorMapper::Program>(data[0] % 3);
    const int32_t exitCode = data[0] >> 2;
    const auto standardError = fuzz::text(data + 1, size - 1);
    const ErrorMapper::Subject subject("/nonexistent-kolvex-fuzz/out.mp4", "ffmpeg");
    (void)ErrorMapper::map(program, exitCode, standardError, subject, FileManagerService::shared());
    (void)ErrorMapper::extract("encoder", standardError);
    (void)ErrorMapper::extract("decoder", standardError);
    return 0;
}
