// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/preview/FrameScrubber.h"
#include "ui/async/AsyncTask.h"
#include "ui/sheets/MediaSheetModels.h"

namespace kolvex {

// A frame at a time in seconds, or none. Blocks: the sheets call it on a worker thread.
using FrameProvider = std::function<std::optional<QImage>(double seconds, std::stop_token stop)>;

// The sheets' form of a scrubber's provider; none for none.
FrameProvider framePreview(FrameScrubber::Provider provider);
// A decoded frame as an image of the same pixel size.
QImage toImage(const VideoFrame& frame);

// The timeline of the trim and split sheets: the track, the waveform, keyframe marks, a band
// and the handles. A press or drag near a handle reports the pointer's x for that handle.
// GUI thread only.
class TimelineView : public QWidget {
    Q_OBJECT

public:
    TimelineView(double duration, KeyframeIndex keyframes, std::optional<std::vector<float>> waveform,
                 QWidget* parent = nullptr);

    void setHandles(std::vector<double> times) {
        m_handles = std::move(times);
        update();
    }
    void setBand(double from, double to) {
        m_band = {from, to};
        update();
    }
    // Facts that arrive after the sheet opened.
    void setKeyframes(KeyframeIndex keyframes) {
        m_keyframes = std::move(keyframes);
        update();
    }
    void setWaveform(std::optional<std::vector<float>> waveform) {
        m_waveform = std::move(waveform);
        update();
    }
    bool hasWaveform() const { return m_waveform && !m_waveform->empty(); }
    // Called with the handle's index and the pointer's x on every change of a drag.
    std::function<void(size_t handle, double x)> onDrag;

    TimelineGeometry geometry() const { return {static_cast<double>(width()), m_duration}; }
    std::optional<size_t> handleAt(double x) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double m_duration;
    KeyframeIndex m_keyframes;
    std::optional<std::vector<float>> m_waveform;
    std::vector<double> m_handles;
    std::pair<double, double> m_band{0, 0};
    std::optional<size_t> m_dragging;
};

// The frame preview pane of the trim and split sheets: the latest frame asked for, decoded on
// a worker thread 90 ms after the request (a newer request supersedes an older one, and a late
// answer for an older time never replaces the current one), with a caption and a time badge.
class FramePane : public QWidget {
    Q_OBJECT

public:
    FramePane(FrameProvider provider, int height, QWidget* parent = nullptr);
    ~FramePane() override;

    void request(double seconds);
    void setCaption(const QString& caption) {
        m_caption = caption;
        update();
    }
    void setDebounce(int milliseconds) { m_timer.setInterval(milliseconds); }
    void cancel();

    const std::optional<QImage>& image() const { return m_image; }
    double requestedTime() const { return m_time; }
    int framesDelivered() const { return m_delivered; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void decode();

    FrameProvider m_provider;
    QTimer m_timer;
    AsyncTask m_task;
    std::optional<QImage> m_image;
    double m_time = 0;
    int m_delivered = 0;
    QString m_caption;
};

}  // namespace kolvex
