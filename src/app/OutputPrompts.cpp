// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/OutputPrompts.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/FileChooser.h"
#include "core/services/Log.h"
#include "core/services/UserDefaults.h"

namespace kolvex::OutputPrompts {

namespace fs = std::filesystem;

namespace {

QString displayName(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.filename().string())); }

// Shows a question window in front of the user with the keyboard. Not modal: the tray's menu
// stays usable while it is up.
void bringForward(QWidget* window) {
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::NonModal);
    window->setWindowFlag(Qt::WindowStaysOnTopHint);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void chooseFolder(UserDefaults& defaults, std::function<void(std::optional<fs::path>)> answer) {
    QTimer::singleShot(0, [&defaults, answer = std::move(answer)] {
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
        FileChooser::desktop()->show(request, [&defaults, answer](std::vector<fs::path> chosen) {
            if (chosen.empty()) {
                answer(std::nullopt);
                return;
            }
            defaults.set(kLastFolderKey, chosen.front().string());
            Log::app().info("Output folder chosen for this run");
            answer(chosen.front());
        });
    });
}

void keepBoth(const std::vector<fs::path>& takenNames, std::function<void(bool)> answer) {
    QTimer::singleShot(0, [takenNames, answer = std::move(answer)] {
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
