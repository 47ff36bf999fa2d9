// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "core/conversion/ConversionEngine.h"
#include "core/format/ConversionError.h"
#include "core/format/ConversionOptions.h"

namespace kolvex::testing {

// The default options with the test's changes.
ConversionOptions options(auto change) {
    ConversionOptions o = ConversionOptions::defaults();
    change(o);
    return o;
}

// Every fraction a run reported, from whichever thread reported it.
struct Progress {
    std::mutex mutex;
    std::vector<double> fractions;
    ProgressCallback callback() {
        return [this](double f) {
            std::lock_guard lock(mutex);
            fractions.push_back(f);
        };
    }
};

// The ConversionError the call throws (a failure of the test when it throws none).
template <class Call>
ConversionError conversionError(Call call) {
    try {
        call();
    } catch (const ConversionError& error) {
        return error;
    }
    ADD_FAILURE() << "no ConversionError";
    return ConversionError::cancelled();
}

}  // namespace kolvex::testing
