// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/OutputPrompts.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "app/FileChooser.h"
#include "core/services/Log.h"
#include "core/services/UserDefaults.h"

namespace kolvex::OutputPrompts {

namespace fs = std::filesystem;

namespace {

QString displayName(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.filename().string())); }

// The one question on screen, and the count of questions asked or withdrawn, so that a
// question withdrawn before its window came up never comes up. GUI thread only.
struct OnScreen {
    QPointer<QWidget> window;
    std::optional<FileChooser::Id> chooser;
    unsigned long generation = 0;
};
OnScreen& onScreen() {
    static OnScreen shown;
    return shown;
}

// A new question: the one before goes unanswered. Returns the question's generation.
unsigned long nextQuestion() {
    withdraw();
    return onScreen().generation;
}

bool stillAsked(unsigned long generation) { return onScreen().generation == generation; }

// Shows a question window in front of the user with the keyboard. Not modal: the tray's menu
// stays usable while it is up.
void bringForward(QWidget* window) {
    onScreen().window = window;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::NonModal);
    window->setWindowFlag(Qt::WindowStaysOnTopHint);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void withdraw() {
    OnScreen& shown = onScreen();
    ++shown.generation;
    if (QWidget* window = shown.window) {
        shown.window.clear();
        window->disconnect();  // no answer comes from it
        window->close();
    }
    if (const auto chooser = shown.chooser) {
        shown.chooser.reset();
        FileChooser::desktop()->withdraw(*chooser);  // a withdrawn chooser never answers
    }
}

void chooseFolder(UserDefaults& defaults, std::function<void(std::optional<fs::path>)> answer) {
    const unsigned long generation = nextQuestion();
    QTimer::singleShot(0, [&defaults, generation, answer = std::move(answer)] {
        if (!stillAsked(generation)) return;
        // The desktop's own chooser: it lists and hands back any folder name, UTF-8 or not.
        FileChooser::Request request;
        request.mode = FileChooser::Mode::chooseFolder;
        request.title = "Where should the converted files go?";
        request.acceptLabel = "Convert _Here";
        std::error_code error;
        if (const auto last = defaults.string(kLastFolderKey); last && fs::is_directory(*last, error))
            request.startFolder = fs::path(*last);
        else
            request.startFolder = fs::path(QFile::encodeName(QDir::homePath()).toStdString());
        const auto take = [&defaults, generation, answer](std::vector<fs::path> chosen) {
            if (!stillAsked(generation)) return;
            onScreen().chooser.reset();
            if (chosen.empty()) {
                answer(std::nullopt);
                return;
            }
            defaults.set(kLastFolderKey, chosen.front().string());
            Log::app().info("Output folder chosen for this run");
            answer(chosen.front());
        };
        onScreen().chooser = FileChooser::desktop()->show(request, take);
    });
}

void keepBoth(const std::vector<fs::path>& takenNames, std::function<void(bool)> answer) {
    const unsigned long generation = nextQuestion();
    QTimer::singleShot(0, [takenNames, generation, answer = std::move(answer)] {
        if (!stillAsked(generation)) return;
        auto* box = new QMessageBox(QMessageBox::Question, "Kolvex",
                                    takenNames.size() == 1
                                        ? QString("\u201c%1\u201d already exists.").arg(displayName(takenNames.front()))
                                        : QString("%1 files with these names already exist.").arg(takenNames.size()));
        QStringList names;
        for (size_t i = 0; i < takenNames.size() && i < 10; ++i) names << displayName(takenNames[i]);
        if (takenNames.size() > 10) names << QString("and %1 more").arg(takenNames.size() - 10);
        box->setInformativeText(takenNames.size() == 1
                                    ? QString("Keep both files (the new one gets a number), or skip it?")
                                    : QString("Keep both (the new files get a number), or skip them?\n\n") +
                                          names.join('\n'));
        QPushButton* keep = box->addButton("Keep Both", QMessageBox::AcceptRole);
        QPushButton* skip = box->addButton("Skip", QMessageBox::RejectRole);
        box->setDefaultButton(keep);
        box->setEscapeButton(skip);
        // Closed by its title bar's button it counts as Skip, like Escape.
        QObject::connect(box, &QMessageBox::finished, box, [box, skip, answer] {
            answer(box->clickedButton() != skip && box->clickedButton() != nullptr);
        });
        bringForward(box);
        keep->setFocus(Qt::ActiveWindowFocusReason);
    });
}

}  // namespace kolvex::OutputPrompts
