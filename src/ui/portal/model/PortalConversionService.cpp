// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalConversionService.h"

#include "core/conversion/ConversionCoordinator.h"

namespace kolvex {

namespace {

class CoordinatorService final : public PortalConversionService {
public:
    explicit CoordinatorService(std::shared_ptr<ConversionCoordinator> coordinator)
        : m_coordinator(std::move(coordinator)) {}

    std::vector<ConversionResult> submit(const ConversionIntent& intent, const BatchProgressCallback& progress,
                                         std::stop_token stop) override {
        return m_coordinator->submit(intent, progress, stop);
    }
    std::vector<ConversionResult> submit(const ToolIntent& intent, const BatchProgressCallback& progress,
                                         std::stop_token stop) override {
        return m_coordinator->submit(intent, progress, stop);
    }

    std::vector<std::filesystem::path> takenNames(const ConversionIntent& intent) override {
        return m_coordinator->takenNames(intent);
    }
    std::vector<std::filesystem::path> takenNames(const ToolIntent& intent) override {
        return m_coordinator->takenNames(intent);
    }

private:
    std::shared_ptr<ConversionCoordinator> m_coordinator;
};

}  // namespace

std::shared_ptr<PortalConversionService> PortalConversionService::wrapping(
    std::shared_ptr<ConversionCoordinator> coordinator) {
    if (!coordinator) return nullptr;
    return std::make_shared<CoordinatorService>(std::move(coordinator));
}

}  // namespace kolvex
