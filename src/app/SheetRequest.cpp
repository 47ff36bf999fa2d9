// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SheetRequest.h"

#include "app/ToolParameterFlow.h"
#include "core/format/FormatRegistry.h"
#include "core/services/PathUtils.h"

namespace kolvex {

SheetRequest::SheetRequest(ToolParameterFlow& flow, RingTarget target, DragPayload payload, std::filesystem::path file,
                           SheetSources sources)
    : m_flow(&flow),
      m_target(std::move(target)),
      m_tool(m_target.toolID.value_or("")),
      m_payload(std::move(payload)),
      m_file(std::move(file)),
      m_sources(std::move(sources)),
      m_runner(m_sources.tasks) {
    m_sources.tasks.reset();
}

void SheetRequest::stop() {
    m_stop.request_stop();
    for (const auto& task : m_tasks) task.stop();
}

std::string SheetRequest::fileName() const {
    return paths::lastComponent(m_file);
}

std::optional<Format> SheetRequest::format() const {
    return m_sources.registry ? m_sources.registry->formatFor(m_file) : std::nullopt;
}

bool SheetRequest::isMedia() const {
    const auto known = format();
    return known && (known->category == FormatCategory::video || known->category == FormatCategory::audio);
}

bool SheetRequest::isVideo() const {
    const auto known = format();
    return known && known->category == FormatCategory::video;
}

Preferences SheetRequest::preferences() const {
    return m_sources.preferences ? m_sources.preferences() : Preferences{};
}

BatchPrompt SheetRequest::prompt(const std::string& finish) const {
    return m_flow ? m_flow->prompt(*this, finish) : BatchPrompt{};
}

bool SheetRequest::isCurrent() const {
    return m_flow && !m_stop.stop_requested() && m_flow->isCurrent(*this);
}

void SheetRequest::show(const std::string& title, QWidget* view) {
    if (!isCurrent()) {
        delete view;
        return;
    }
    m_shown = true;
    m_title = title;
    m_flow->show(*this, title, view);
    tellIfReady();
}

void SheetRequest::prepared() {
    if (m_preparing > 0) --m_preparing;
    tellIfReady();
}

void SheetRequest::tellIfReady() {
    // What a sheet reads after it shows (keyframes, a waveform) changes what it offers: it is
    // ready for the user's answer once all of it is in.
    if (m_toldReady || !m_shown || m_preparing > 0 || !isCurrent()) return;
    m_toldReady = true;
    m_flow->tellReady(m_title);
}

void SheetRequest::apply(const ConversionOptions& options, const BatchChoice& choice) {
    if (isCurrent()) m_flow->accept(*this, options, choice);
}

void SheetRequest::applyOrdered(const std::vector<std::filesystem::path>& ordering) {
    if (isCurrent()) m_flow->acceptOrdered(*this, ordering);
}

void SheetRequest::runWithDefaults() {
    // A walk keeps the "Start converting as I go" of its last sheet for this file too.
    if (isCurrent()) m_flow->accept(*this, ToolParameterFlow::baseOptions(), std::nullopt);
}

void SheetRequest::fail(const std::string& reason) {
    if (isCurrent()) m_flow->fail(*this, reason);
}

void SheetRequest::cancel(bool showPortal) {
    if (isCurrent()) m_flow->cancel(*this, showPortal);
}

}  // namespace kolvex
