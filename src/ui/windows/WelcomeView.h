// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QWidget>

#include "core/services/TriggerModifier.h"

class QCheckBox;
class QPushButton;
class QLabel;

namespace kolvex {

// The first-run guide: the gesture in three steps naming the trigger key, four tips, a sample
// file to try it on and the open-at-login choice. It knows nothing of files, the login item or
// windows: everything goes through the callbacks. GUI thread only.
class WelcomeView : public QWidget {
    Q_OBJECT

public:
    // `onShowSample` empty: no sample button. `onSetLoginItem` empty: the choice is not applied.
    WelcomeView(TriggerModifier trigger, std::function<void()> onShowSample, bool openAtLogin,
                std::function<void(bool)> onSetLoginItem, std::function<void()> onDone, QWidget* parent = nullptr);

    // The texts of the three steps (title, detail) for a trigger key.
    static std::vector<std::pair<std::string, std::string>> steps(TriggerModifier trigger);
    // The tips, the first naming the key that holds the tools ring beside `trigger`.
    static std::vector<std::string> tips(TriggerModifier trigger);
    static constexpr const char* kTagline = "Turn any file into what you need, without leaving your desktop.";

    QPushButton* sampleButton() const { return m_sample; }  // null when there is none
    QPushButton* doneButton() const { return m_done; }
    QCheckBox* loginCheckBox() const { return m_login; }

private:
    void showSample();
    void finish();

    std::function<void()> m_onShowSample;
    std::function<void(bool)> m_onSetLoginItem;
    std::function<void()> m_onDone;
    QPushButton* m_sample = nullptr;
    QPushButton* m_done = nullptr;
    QCheckBox* m_login = nullptr;
};

}  // namespace kolvex
