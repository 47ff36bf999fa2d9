// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kolvex {

// The "Convert Files…" chooser: several existing files, "Convert" as its button. It reads each
// folder itself, by the bytes of its names, so a file whose name is not UTF-8 (a Latin-1 "café"
// from an old archive or camera) is listed and chosen like any other (Qt's own file dialog
// leaves such names out). Places on the left, the folder's path above (type one and press
// Return to go there), and a detail list whose size, type and date columns are as wide as what
// they show in the current font. GUI thread only.
class ConvertFilesDialog : public QDialog {
public:
    explicit ConvertFilesDialog(QWidget* parent = nullptr);

    // Lists `folder`; false, with the listing left as it was and the reason shown, when it
    // cannot be read.
    bool setDirectory(const std::filesystem::path& folder);
    const std::filesystem::path& directory() const { return m_folder; }
    // The chosen files (not folders), as the bytes of their paths, in the list's order.
    std::vector<std::filesystem::path> selectedFiles() const;

    QTreeWidget* view() const { return m_view; }
    QLineEdit* locationField() const { return m_location; }
    QPushButton* convertButton() const { return m_convert; }
    // A name as the list shows it: UTF-8 as it is, other bytes as U+FFFD.
    static QString displayName(const std::string& bytes);

private:
    void activate(QTreeWidgetItem* item);
    void goToTyped();
    void selectionChanged();

    std::filesystem::path m_folder;
    QLineEdit* m_location = nullptr;
    QListWidget* m_places = nullptr;
    QTreeWidget* m_view = nullptr;
    QLabel* m_problem = nullptr;
    QPushButton* m_convert = nullptr;
};

std::unique_ptr<ConvertFilesDialog> makeConvertFilesDialog();

}  // namespace kolvex
