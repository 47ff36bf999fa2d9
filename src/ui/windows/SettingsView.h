// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QWidget>

#include "core/services/Preferences.h"
#include "ui/windows/FileChooser.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;

namespace kolvex {

class SettingsStore;

// The settings window's content: four tabs whose controls edit the live preferences at once
// (no OK or Cancel). Updates come with the distribution's packages, so there is no update
// switch. GUI thread only.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    // `store` must outlive the view. `chooser` is the desktop's file chooser; none: the
    // "Choose…" buttons show nothing.
    explicit SettingsView(SettingsStore& store, std::shared_ptr<FileChooser> chooser = nullptr, QWidget* parent = nullptr);
    ~SettingsView() override;

    // "85%" for 0.85: the value times 100, truncated toward zero.
    static std::string percentLabel(double quality);
    static std::string bitrateLabel(int64_t bitsPerSecond);  // "192 kbps"
    static std::string countLabel(int64_t count);            // "1 file", "2 files"
    static std::string triggerRowLabel(int index);           // "⇧  Shift" … by TriggerModifier order

    // Show the choosers without waiting: the chosen path is stored when the user answers, as
    // the file system's bytes; a cancelled chooser changes nothing. A chooser still up when
    // another is asked for, or when the view goes, is withdrawn.
    void chooseOutputFolder();
    void chooseFFmpeg();

    // The controls, for tests.
    QTabWidget* tabs() const { return m_tabs; }
    QComboBox* outputLocation() const { return m_outputLocation; }
    QWidget* customFolderRow() const { return m_customRow; }
    QLabel* customFolderText() const { return m_customText; }
    QComboBox* conflictBehaviour() const { return m_conflict; }
    QCheckBox* preserveMetadata() const { return m_metadata; }
    QCheckBox* notifications() const { return m_notifications; }
    QComboBox* trigger() const { return m_trigger; }
    QSlider* imageQuality() const { return m_imageQuality; }
    QLabel* imageQualityText() const { return m_imageQualityText; }
    QSlider* videoQuality() const { return m_videoQuality; }
    QLabel* videoQualityText() const { return m_videoQualityText; }
    QComboBox* audioBitrate() const { return m_bitrate; }
    QComboBox* parallelLimit() const { return m_parallel; }
    QComboBox* appearance() const { return m_appearance; }
    QLabel* ffmpegText() const { return m_ffmpegText; }
    QPushButton* ffmpegReset() const { return m_ffmpegReset; }
    QCheckBox* debugLogs() const { return m_debug; }
    QPushButton* resetAll() const { return m_resetAll; }
    QLabel* updateCaption() const { return m_updateCaption; }
    QLabel* logCaption() const { return m_logCaption; }

private:
    void refresh();
    void choose(FileChooser::Request request, std::function<void(Preferences&, std::string)> store);
    void withdrawChooser();

    SettingsStore& m_store;
    std::shared_ptr<FileChooser> m_chooser;
    std::optional<FileChooser::Id> m_shownChooser;
    bool m_refreshing = false;

    QTabWidget* m_tabs = nullptr;
    QComboBox* m_outputLocation = nullptr;
    QWidget* m_customRow = nullptr;
    QLabel* m_customText = nullptr;
    QComboBox* m_conflict = nullptr;
    QCheckBox* m_metadata = nullptr;
    QCheckBox* m_notifications = nullptr;
    QComboBox* m_trigger = nullptr;
    QSlider* m_imageQuality = nullptr;
    QLabel* m_imageQualityText = nullptr;
    QSlider* m_videoQuality = nullptr;
    QLabel* m_videoQualityText = nullptr;
    QComboBox* m_bitrate = nullptr;
    QComboBox* m_parallel = nullptr;
    QComboBox* m_appearance = nullptr;
    QLabel* m_ffmpegText = nullptr;
    QPushButton* m_ffmpegReset = nullptr;
    QCheckBox* m_debug = nullptr;
    QPushButton* m_resetAll = nullptr;
    QLabel* m_updateCaption = nullptr;
    QLabel* m_logCaption = nullptr;
};

}  // namespace kolvex
