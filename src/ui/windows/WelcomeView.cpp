// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/WelcomeView.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

#include "interaction/ModeResolver.h"
#include "ui/windows/ApplicationResources.h"
#include "ui/windows/KeyNames.h"
#include "ui/windows/ScrollingWindow.h"

namespace kolvex {

std::vector<std::pair<std::string, std::string>> WelcomeView::steps(TriggerModifier trigger) {
    return {
        {"Drag a file in the file manager", "Start dragging as you normally would."},
        {"Hold " + keyLabel(trigger), "The Portal appears under your cursor, showing only the formats that file can become."},
        {"Move toward a format and release", "The converted file lands next to the original. Release " +
                                                 keyName(trigger) + " at any point to carry on with an ordinary drag."},
    };
}

std::vector<std::string> WelcomeView::tips(TriggerModifier trigger) {
    return {
        "Hold " + keyName(ModeResolver::forTrigger(trigger).toolsModifier) + " instead for tools — compress, resize, trim.",
        "Kolvex lives in the tray. Click its icon for settings, recent files and this guide.",
        "Prefer the keyboard? Choose Convert Files… from the tray.",
        "Nothing is uploaded. Every conversion runs on this computer.",
    };
}

namespace {

QLabel* label(const QString& text, qreal pointSize, bool bold = false, bool secondary = false) {
    auto* result = new QLabel(text);
    QFont font = result->font();
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    result->setFont(font);
    result->setWordWrap(true);
    if (secondary) result->setForegroundRole(QPalette::PlaceholderText);
    return result;
}

QWidget* stepRow(int number, const std::string& title, const std::string& detail) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* badge = new QLabel(QString::number(number));
    badge->setFixedSize(22, 22);
    badge->setAlignment(Qt::AlignCenter);
    badge->setStyleSheet("QLabel { background: palette(highlight); color: white; border-radius: 11px; font-weight: bold; }");
    layout->addWidget(badge, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(label(QString::fromStdString(title), 13, true));
    texts->addWidget(label(QString::fromStdString(detail), 11.5, false, true));
    layout->addLayout(texts, 1);
    return row;
}

}  // namespace

WelcomeView::WelcomeView(TriggerModifier trigger, std::function<void()> onShowSample, bool openAtLogin,
                         std::function<void(bool)> onSetLoginItem, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent),
      m_onShowSample(std::move(onShowSample)),
      m_onSetLoginItem(std::move(onSetLoginItem)),
      m_onDone(std::move(onDone)) {
    // The guide scrolls on a short or scaled screen; the buttons and the login box stay below
    // it, always in view.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 28);
    outer->setSpacing(22);
    setFixedWidth(520);
    auto* guide = new QWidget;
    auto* layout = new QVBoxLayout(guide);
    layout->setContentsMargins(28, 28, 28, 0);
    layout->setSpacing(22);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    const QImage mark = ApplicationResources::mark();
    if (!mark.isNull()) {
        auto* icon = new QLabel;
        icon->setPixmap(QPixmap::fromImage(mark.scaled(58, 58, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        icon->setFixedSize(58, 58);
        header->addWidget(icon);
    }
    auto* titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addWidget(label("Kolvex", 26, true));
    titles->addWidget(label(kTagline, 12.5, false, true));
    header->addLayout(titles, 1);
    layout->addLayout(header);

    auto* stepsLayout = new QVBoxLayout;
    stepsLayout->setSpacing(13);
    int number = 1;
    for (const auto& [title, detail] : steps(trigger)) stepsLayout->addWidget(stepRow(number++, title, detail));
    layout->addLayout(stepsLayout);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* tipsLayout = new QVBoxLayout;
    tipsLayout->setSpacing(6);
    for (const auto& tip : tips(trigger)) tipsLayout->addWidget(label(QString::fromStdString(tip), 11.5, false, true));
    layout->addLayout(tipsLayout);

    outer->addWidget(scrolling::wrap(guide), 1);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(28, 0, 28, 0);
    buttons->setSpacing(12);
    if (m_onShowSample) {
        m_sample = new QPushButton("Show me a sample file");
        m_sample->setAutoDefault(false);
        connect(m_sample, &QPushButton::clicked, this, &WelcomeView::showSample);
        buttons->addWidget(m_sample);
    }
    buttons->addStretch(1);
    m_done = new QPushButton("Start using Kolvex");
    m_done->setDefault(true);
    m_done->setAutoDefault(true);
    connect(m_done, &QPushButton::clicked, this, &WelcomeView::finish);
    // The window's default button: Return presses it wherever the focus is in the window, also
    // after the guide was scrolled or clicked (a plain window, unlike a dialog, has no default).
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, m_done, &QPushButton::click);
    }
    buttons->addWidget(m_done);
    outer->addLayout(buttons);

    m_login = new QCheckBox("Open Kolvex at login");
    m_login->setChecked(openAtLogin);
    auto* login = new QHBoxLayout;
    login->setContentsMargins(28, 0, 28, 0);
    login->addWidget(m_login);
    outer->addLayout(login);
}

void WelcomeView::showSample() {
    if (!m_sample || !m_sample->isEnabled()) return;
    m_sample->setText("Sample file is in the file manager");
    m_sample->setEnabled(false);
    if (m_onShowSample) m_onShowSample();
}

void WelcomeView::finish() {
    if (m_onSetLoginItem) m_onSetLoginItem(m_login->isChecked());
    if (m_onDone) m_onDone();
}

}  // namespace kolvex
