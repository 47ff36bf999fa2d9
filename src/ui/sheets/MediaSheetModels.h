// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ffmpeg/CutPlan.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/MediaProbe.h"
#include "core/format/Identifiers.h"

namespace kolvex {

// The arithmetic behind the trim, split, extract-audio and merge-order sheets, kept apart from
// the widgets so that it can be checked without a display. Plain values; GUI thread.

// Maps times to the x positions of a timeline whose track is inset 5.5 points on each side.
struct TimelineGeometry {
    static constexpr double kInset = 5.5;
    double width = 0;     // the whole timeline
    double duration = 1;  // seconds

    double trackWidth() const;
    double x(double time) const;
    // The unclamped fraction of the track at a pointer position.
    double fraction(double pointerX) const;
};

// The trim sheet's start and end: 0 ≤ start, end ≤ duration, end − start ≥ 0.1.
struct TrimModel {
    enum class Edge { start, end };
    static constexpr double kMinimumSpan = 0.1;
    static constexpr double kPullPoints = 6;

    TrimModel(double duration, KeyframeIndex keyframes);

    double duration;  // at least 0.1
    KeyframeIndex keyframes;  // where the handles snap to
    double start = 0;
    double end;
    bool video = false;
    // What the engine will make of the cut: its own plan, asked with what it will read. None
    // until the file's facts are in; the sheet then promises nothing.
    std::shared_ptr<const CutQuestion> question;

    // A typed start or end, clamped so that the span stays at least 0.1 s.
    void commitStart(double value);
    void commitEnd(double value);
    // A handle dragged to a pointer x on a timeline; snaps to a keyframe within 6 points.
    double dragTo(Edge edge, double pointerX, const TimelineGeometry& timeline);
    void wholeFile();

    double startFieldMaximum() const { return end - kMinimumSpan; }
    double endFieldMinimum() const { return start + kMinimumSpan; }
    double kept() const { return end - start; }
    bool canApply() const;
    // The engine's plan for the cut as it stands.
    std::optional<CutPlan> plan() const;
    // Whether the cut as it stands is a stream copy; otherwise it is re-encoded.
    bool isStreamCopy() const;
    // A start or end close to the asked one at which the cut is a stream copy, when it is not.
    struct Offer {
        Edge edge;
        double time;
    };
    std::optional<Offer> offer() const;
    void take(const Offer& offer);
    std::string explanation() const;

private:
    // The plan and offer of the last cut asked: a long file's offer tries several cuts, and the
    // sheet asks for both on every redraw.
    struct Asked {
        const CutQuestion* question;
        double start, end;
        std::optional<CutPlan> plan;
        std::optional<std::optional<Offer>> offer;
    };
    mutable std::optional<Asked> m_asked;
    const Asked& asked() const;
};

// The split sheet's cut: one point, or equal parts.
struct SplitModel {
    enum class Method { atPoint, equalParts };
    static constexpr double kMargin = 0.1;
    static constexpr double kMinimumDuration = 0.2;
    static constexpr int kMinimumParts = 2;
    static constexpr int kMaximumParts = 20;
    static const char* label(Method method);

    SplitModel(double duration, KeyframeIndex keyframes);

    double duration;  // above 0.2
    KeyframeIndex keyframes;
    bool video = false;
    std::shared_ptr<const CutQuestion> question;  // as for the trim sheet
    Method method = Method::atPoint;
    double point;
    int parts = 2;

    // The cut times the sheet would hand over now: increasing, each more than the margin after
    // the one before and before the end.
    std::vector<double> points() const;
    // (start, end) of each resulting part.
    std::vector<std::pair<double, double>> outcome() const;
    // The cut placed by a drag to a pointer x, or by a typed time.
    double dragTo(double pointerX, const TimelineGeometry& timeline);
    double commitTyped(double value);
    void setParts(int value);
    bool canApply() const { return !points().empty(); }
    // The engine's plan for each part as the cuts stand; empty until the file's facts are in.
    std::vector<CutPlan> plans() const;
    // What the parts will be: stream copies, or re-encoded, and why.
    std::string explanation() const;

private:
    double snapped(double time) const;
};

// What the extract-audio sheet says of its chosen row: the track is copied; re-encoded with loss;
// written without loss into a larger file; written again as it was (its own codec), or without
// loss into a file no larger.
enum class ExtractAudioNote { copy, lossy, lossless, rewritten, kept };

// One output choice of the extract-audio sheet.
struct ExtractAudioOption {
    FormatID format;
    std::string title;
    std::string detail;
    bool isCopy = false;
    bool isLossy = false;
    // What the engine's plan for this row does with the sound; none: as isCopy and isLossy say.
    std::optional<ExtractAudioNote> note;

    // The note of a row the engine runs as `plan`, from a source whose sound is `sourceCodec`.
    static ExtractAudioNote noteOf(const CutPlan& plan, const std::optional<std::string>& sourceCodec);

    // The format id, followed by "-copy" for the row that keeps the stream.
    std::string id() const;
    bool operator==(const ExtractAudioOption&) const = default;
};

// The extract-audio sheet's selected row and bit rate.
struct ExtractAudioModel {
    using Note = ExtractAudioNote;
    static const std::vector<int>& bitrates();  // kilobits per second

    explicit ExtractAudioModel(std::vector<ExtractAudioOption> options);

    std::vector<ExtractAudioOption> options;
    std::string selection;
    double bitrate = 192;  // kilobits per second

    // The selected row, else the first; none only without rows.
    const ExtractAudioOption* chosen() const;
    int64_t bitrateBitsPerSecond() const;
    // The bit rate a row is measured and applied with: only lossy rows have one.
    std::optional<int64_t> bitrateFor(const ExtractAudioOption& option) const;
    Note note() const;

    // The detail line of the keep-the-original row: "AAC · 44.1 kHz · stereo · 128 kbps".
    static std::string describe(const std::string& codec, const MediaProbe& probe);
    // The predicted size of a row in bytes; none without a positive duration or a needed rate.
    static std::optional<int64_t> estimateAudioSize(const ExtractAudioOption& option, std::optional<int64_t> bitrate,
                                                    const MediaProbe& probe);
};

// The merge-order sheet's file order and selection.
struct MergeOrder {
    explicit MergeOrder(std::vector<std::filesystem::path> files) : files(std::move(files)) {}

    std::vector<std::filesystem::path> files;
    std::optional<std::filesystem::path> selection;

    std::optional<size_t> index(const std::optional<std::filesystem::path>& url) const;
    bool canMove(int offset) const;
    void move(int offset);
    // Moves the rows at `from` (positions) before the row at `to` (0 … count), as a list does
    // when rows are dragged; out-of-range positions are ignored.
    void moveRows(const std::vector<size_t>& from, size_t to);
    std::string applyTitle() const;
};

}  // namespace kolvex
