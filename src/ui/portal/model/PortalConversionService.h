// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <stop_token>
#include <vector>

#include "core/conversion/BatchProgress.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

class ConversionCoordinator;

// What the Portal needs of the conversion coordinator: its blocking requests. The model
// calls them on a worker thread. Tests put a scripted service in its place.
class PortalConversionService {
public:
    virtual ~PortalConversionService() = default;
    virtual std::vector<ConversionResult> submit(const ConversionIntent& intent, const BatchProgressCallback& progress,
                                                 std::stop_token stop) = 0;
    virtual std::vector<ConversionResult> submit(const ToolIntent& intent, const BatchProgressCallback& progress,
                                                 std::stop_token stop) = 0;

    // The plain names the request's outputs would take that other files already hold (the
    // names "Ask what to do" asks about); blocking. None unless the service knows.
    virtual std::vector<std::filesystem::path> takenNames(const ConversionIntent&) { return {}; }
    virtual std::vector<std::filesystem::path> takenNames(const ToolIntent&) { return {}; }

    // The coordinator itself behind this interface; nothing for nothing.
    static std::shared_ptr<PortalConversionService> wrapping(std::shared_ptr<ConversionCoordinator> coordinator);
};

}  // namespace kolvex
