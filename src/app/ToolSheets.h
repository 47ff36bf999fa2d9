#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>

#include "app/ToolParameterFlow.h"
#include "app/ToolSheetPresenter.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/services/Preferences.h"
#include "ui/sheets/BatchRun.h"

namespace kolvex {

// The settings sheets of the Portal's tools, behind the parameter flow: reads what each sheet
// needs (picture, size, probe, keyframes, waveform, frames) off the GUI thread, opens the sheet,
// turns its answer into options, and walks several files one sheet at a time when the tool or
// the user asks for that. GUI thread only.
class ToolSheets : public QObject, public ToolSheetPresenter {
    Q_OBJECT

public:
    struct Sources {
        // The located FFmpeg programs; none when there are none.
        std::function<std::optional<BundledFFmpeg>()> ffmpeg;
        std::function<Preferences()> preferences;
    };
    explicit ToolSheets(Sources sources);
    // The programs and settings of the running application.
    static Sources desktop();

    // A new request from the Portal: any walk left over from an earlier one is dropped.
    bool present(ToolParameterFlow& flow, const RingTarget& target, const DragPayload& payload,
                 const std::filesystem::path& file) override;

    // What a sheet is told about the run: the walk's step while one runs, else the payload's.
    static BatchPrompt prompt(const std::optional<BatchParameterRun>& walk, const DragPayload& payload,
                              const std::string& finish, bool offersIndividual, bool alwaysPerFile);

    const std::optional<BatchParameterRun>& walk() const { return m_walk; }

private:
    bool show(const RingTarget& target, const DragPayload& payload, const std::filesystem::path& file);
    // One sheet's answer: into the walk, a new walk, or one set of options for every file.
    void handBack(const ConversionOptions& options, const BatchChoice& choice, const RingTarget& target,
                  const DragPayload& payload, bool walksFileByFile);
    void advance(const ConversionOptions& options);
    void cancel();
    // Cancel of the sheets that set every file at once: the Portal shows again as it closes.
    void cancelShowingPortal();
    void discard(const std::string& message, const std::filesystem::path& file);
    bool current(uint64_t generation) const { return generation == m_generation && m_flow; }

    void presentCrop(const RingTarget& target, const DragPayload& payload, const std::filesystem::path& file);
    void presentRotate(const RingTarget& target, const std::filesystem::path& file);
    void presentResize(const RingTarget& target, const DragPayload& payload, const std::filesystem::path& file);
    void presentCompress(const RingTarget& target, const DragPayload& payload, const std::filesystem::path& file);
    void presentMedia(const RingTarget& target, const DragPayload& payload, const std::filesystem::path& file,
                      bool split);
    void presentExtractAudio(const std::filesystem::path& file);
    void presentMerge(const RingTarget& target, const DragPayload& payload);

    Sources m_sources;
    QPointer<ToolParameterFlow> m_flow;
    std::optional<BatchParameterRun> m_walk;
    std::optional<RingTarget> m_walkTarget;
    uint64_t m_generation = 0;
};

}  // namespace kolvex
