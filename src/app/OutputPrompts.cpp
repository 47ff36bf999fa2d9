// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/OutputPrompts.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "app/GtkFileChooser.h"
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

// The folder chosen last: its bytes (earlier versions kept it as text).
std::optional<fs::path> lastFolder(const UserDefaults& defaults) {
    if (const auto data = defaults.data(kLastFolderKey)) return fs::path(data->text());
    if (const auto text = defaults.string(kLastFolderKey)) return fs::path(*text);
    return std::nullopt;
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
        desktopFileChooser()->withdraw(*chooser);  // a withdrawn chooser never answers
    }
}

void chooseFolder(UserDefaults& defaults, std::uint64_t sourceWindow, std::function<void(std::optional<fs::path>)> answer) {
    const unsigned long generation = nextQuestion();
    QTimer::singleShot(0, [&defaults, sourceWindow, generation, answer = std::move(answer)] {
        if (!stillAsked(generation)) return;
        // The desktop's own chooser: it lists and hands back any folder name, UTF-8 or not.
        FileChooser::Request request;
        request.mode = FileChooser::Mode::chooseFolder;
        request.title = "Where should the converted files go?";
        request.acceptLabel = "Convert _Here";
        request.besideWindow = sourceWindow;
        std::error_code error;
        if (const auto last = lastFolder(defaults); last && fs::is_directory(*last, error))
            request.startFolder = *last;
        else
            request.startFolder = fs::path(QFile::encodeName(QDir::homePath()).toStdString());
        const auto take = [&defaults, generation, answer](std::vector<fs::path> chosen) {
            if (!stillAsked(generation)) return;
            onScreen().chooser.reset();
            if (chosen.empty()) {
                answer(std::nullopt);
                return;
            }
            // As bytes: a folder name that is not UTF-8 would not survive as text.
            const std::string& bytes = chosen.front().native();
            defaults.set(kLastFolderKey, DefaultsData(std::vector<uint8_t>(bytes.begin(), bytes.end())));
            Log::app().info("Output folder chosen for this run");
            answer(chosen.front());
        };
        onScreen().chooser = desktopFileChooser()->show(request, take);
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
