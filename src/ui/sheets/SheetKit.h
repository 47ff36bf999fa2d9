#pragma once

#include <functional>
#include <memory>
#include <stop_token>

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

class QBoxLayout;

namespace kolvex {

// Small pieces the tool sheets share: texts in the sheet fonts, tinted buttons, the keyboard
// actions of the button row, and work handed to a worker thread. GUI thread only.
namespace sheetkit {

// A label in the system font at `pointSize`; `secondary` greys it as secondary text.
QLabel* label(const QString& text, double pointSize, QFont::Weight weight = QFont::Normal, bool secondary = false,
              bool monospaced = false);
// The accent colour and the secondary text colour of the current palette.
QColor accent(const QWidget* widget);
QColor secondary(const QWidget* widget);
// A bordered button that shows whether it is the current choice.
void setTinted(QAbstractButton* button, bool tinted);
bool isTinted(const QAbstractButton* button);

// Escape clicks `cancel`; Return and Enter click `confirm` while it is enabled.
void bindKeys(QWidget* sheet, QPushButton* cancel, QPushButton* confirm);

// A "figure": the label upper-cased small and grey, the value below it in a monospaced font.
struct Figure {
    QWidget* widget = nullptr;
    QLabel* value = nullptr;
    QLabel* detail = nullptr;  // the optional second line
};
Figure figure(const QString& caption, bool emphasised, bool withDetail);

// Runs `work` on a worker thread and hands its result to `done` on the GUI thread, unless
// `owner` is gone by then or the returned source was asked to stop.
template <typename T>
std::shared_ptr<std::stop_source> runInBackground(QObject* owner, std::function<T(std::stop_token)> work,
                                                  std::function<void(T)> done);

void postToGuiThread(std::function<void()> call);
void startOnWorker(std::function<void()> job);

template <typename T>
std::shared_ptr<std::stop_source> runInBackground(QObject* owner, std::function<T(std::stop_token)> work,
                                                  std::function<void(T)> done) {
    auto source = std::make_shared<std::stop_source>();
    QPointer<QObject> guard(owner);
    startOnWorker([source, guard, work = std::move(work), done = std::move(done)] {
        auto value = std::make_shared<T>(work(source->get_token()));
        postToGuiThread([source, guard, value, done] {
            if (guard && !source->stop_requested()) done(std::move(*value));
        });
    });
    return source;
}

}  // namespace sheetkit
}  // namespace kolvex
