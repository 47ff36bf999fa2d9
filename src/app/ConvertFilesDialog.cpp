#include "app/ConvertFilesDialog.h"

#include <algorithm>

#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>

namespace kolvex {

namespace {

// The size, type and date columns as wide as what they show and their titles, measured over the
// rows in view (the header looks at a bounded number of them); the name takes the rest.
void widenColumns(QTreeView* view) {
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column <= 3 && column < header->count(); ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

}  // namespace

std::unique_ptr<QFileDialog> makeConvertFilesDialog() {
    auto dialog = std::make_unique<QFileDialog>();
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setLabelText(QFileDialog::Accept, "Convert");
    dialog->setWindowTitle("Choose files to send through the Portal");
    // Qt's own dialog: the columns below are ours to size.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setViewMode(QFileDialog::Detail);
    if (auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        widenColumns(view);
        // Room for the name beside the other columns at their usual widths.
        dialog->resize(std::max(dialog->sizeHint().width(), 40 * view->fontMetrics().averageCharWidth() + 420),
                       std::max(dialog->sizeHint().height(), 420));
    }
    return dialog;
}

}  // namespace kolvex
