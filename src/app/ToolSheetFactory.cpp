// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ToolSheetFactory.h"

#include "app/ImageSheetPresenters.h"
#include "app/MediaSheetPresenters.h"

namespace kolvex {

ToolSheetFactory& ToolSheetFactory::add(const std::string& toolID, std::shared_ptr<const ToolSheetPresenter> presenter) {
    m_presenters[toolID] = std::move(presenter);
    return *this;
}

const ToolSheetPresenter* ToolSheetFactory::presenter(const std::string& toolID) const {
    const auto it = m_presenters.find(toolID);
    return it == m_presenters.end() ? nullptr : it->second.get();
}

std::set<std::string> ToolSheetFactory::toolIDs() const {
    std::set<std::string> ids;
    for (const auto& [id, presenter] : m_presenters) ids.insert(id);
    return ids;
}

std::shared_ptr<const ToolSheetFactory> ToolSheetFactory::standard() {
    auto factory = std::make_shared<ToolSheetFactory>();
    auto rotate = std::make_shared<RotatePresenter>();
    factory->add("crop", std::make_shared<CropPresenter>())
        .add("rotate", rotate)
        .add("flip", rotate)
        .add("resize", std::make_shared<ResizePresenter>())
        .add("compress", std::make_shared<CompressPresenter>())
        .add("trim", std::make_shared<TimelinePresenter>(false))
        .add("split", std::make_shared<TimelinePresenter>(true))
        .add("extract-audio", std::make_shared<ExtractAudioPresenter>())
        .add("merge", std::make_shared<MergeOrderPresenter>());
    return factory;
}

}  // namespace kolvex
