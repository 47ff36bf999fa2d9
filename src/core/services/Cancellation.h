// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <stop_token>

namespace kolvex {

// Thrown when work stops because its stop token was triggered. The coordinator turns it into
// ConversionError::cancelled().
class OperationCancelled : public std::runtime_error {
public:
    OperationCancelled() : std::runtime_error("The operation was cancelled") {}
};

// Throws OperationCancelled when a stop has been requested.
inline void throwIfStopRequested(const std::stop_token& token) {
    if (token.stop_requested()) throw OperationCancelled();
}

}  // namespace kolvex
