// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/conversion/ConversionEngine.h"

namespace kolvex {

// An engine that is made, with its module, only when a job first needs it. Until then it costs
// nothing: the ring and the planner know every format from the manifest, not from the engines.
// When the module cannot be loaded, every job planned for the engine fails with a ConversionError
// that says why. Shared by concurrent jobs like any engine.
class LazyEngine final : public ConversionEngine {
public:
    using Engine = std::shared_ptr<const ConversionEngine>;
    // Makes the engine; throws ModuleLoader::Unavailable when its module does not load.
    using Make = std::function<Engine()>;
    // What the engine takes at all, told from the job's formats alone: when false the engine is
    // not asked (nor loaded). It must hold for every job the engine can handle.
    using Takes = std::function<bool(const ConversionJob&)>;

    LazyEngine(EngineID id, Takes takes, Make make);

    EngineID id() const override { return m_id; }
    // Loads the engine when the job's formats are its kind. Without its module, true: the job is
    // then planned here and fails with the reason.
    bool canHandle(const ConversionJob& job) const override;
    // The engine's own answer once it is made; without its module, false: the job then fails
    // with the reason, or for want of the room its source asks.
    bool checksRoom(const ConversionJob& job) const override;
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override;

    // Whether the engine has been made.
    bool isLoaded() const;

private:
    // The engine, made on the first call; throws ConversionError::backendFailure naming the
    // reason when it cannot be made.
    const ConversionEngine& engine() const;
    const ConversionEngine* tryEngine() const;

    EngineID m_id;
    Takes m_takes;
    Make m_make;
    mutable std::mutex m_mutex;
    mutable Engine m_engine;
    mutable std::optional<std::string> m_failure;
};

}  // namespace kolvex
