// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/async/AsyncTask.h"

#include "core/format/ConversionError.h"
#include "core/services/Log.h"

namespace kolvex {

std::string AsyncTask::describeCurrentException() {
    try {
        throw;
    } catch (const ConversionError& error) {
        return error.shortDescription();
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an unknown failure";
    }
}

void AsyncTask::logUnheard(const std::string& reason) {
    Log::app().error("Background work failed: {}", reason);
}

}  // namespace kolvex
