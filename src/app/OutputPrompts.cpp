#include "app/OutputPrompts.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "core/services/Log.h"
#include "core/services/UserDefaults.h"

namespace kolvex::OutputPrompts {

namespace fs = std::filesystem;

namespace {

QString displayName(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.filename().string())); }

}  // namespace

void chooseFolder(UserDefaults& defaults, std::function<void(std::optional<fs::path>)> answer) {
    QTimer::singleShot(0, [&defaults, answer = std::move(answer)] {
        QString start = QDir::homePath();
        if (const auto last = defaults.string(kLastFolderKey); last && QDir(QFile::decodeName(last->c_str())).exists())
            start = QFile::decodeName(last->c_str());
        QFileDialog dialog(nullptr, "Where should the converted files go?", start);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setLabelText(QFileDialog::Accept, "Convert Here");
        // Above the Portal, which stays on top of every window.
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            answer(std::nullopt);
            return;
        }
        const QByteArray chosen = QFile::encodeName(dialog.selectedFiles().front());
        defaults.set(kLastFolderKey, chosen.toStdString());
        Log::app().info("Output folder chosen for this run");
        answer(fs::path(chosen.toStdString()));
    });
}

bool keepBoth(const std::vector<fs::path>& takenNames) {
    QMessageBox box(QMessageBox::Question, "Kolvex",
                    takenNames.size() == 1
                        ? QString("\u201c%1\u201d already exists.").arg(displayName(takenNames.front()))
                        : QString("%1 files with these names already exist.").arg(takenNames.size()));
    QStringList names;
    for (size_t i = 0; i < takenNames.size() && i < 10; ++i) names << displayName(takenNames[i]);
    if (takenNames.size() > 10) names << QString("and %1 more").arg(takenNames.size() - 10);
    box.setInformativeText(takenNames.size() == 1
                               ? QString("Keep both files (the new one gets a number), or skip it?")
                               : QString("Keep both (the new files get a number), or skip them?\n\n") + names.join('\n'));
    QPushButton* keep = box.addButton("Keep Both", QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton("Skip", QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(skip);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
    return box.clickedButton() != skip;
}

}  // namespace kolvex::OutputPrompts
