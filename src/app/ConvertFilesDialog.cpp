// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ConvertFilesDialog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/services/PathUtils.h"
#include "core/services/Utf8.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr int kPathRole = Qt::UserRole;        // the entry's path, as bytes
constexpr int kFolderRole = Qt::UserRole + 1;  // a folder (or a link to one)
constexpr int kSortRole = Qt::UserRole + 2;    // size in bytes, or modification time

QByteArray bytesOf(const fs::path& path) {
    return QByteArray::fromStdString(path.native());
}

// Folders first, then names as a person reads them; sizes and dates by their values.
class Entry : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const bool folder = data(0, kFolderRole).toBool(), otherFolder = other.data(0, kFolderRole).toBool();
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const bool ascending = !treeWidget() || treeWidget()->header()->sortIndicatorOrder() == Qt::AscendingOrder;
        if (folder != otherFolder) return ascending ? folder : otherFolder;
        if (column == 1 || column == 3) {
            const qint64 mine = data(column, kSortRole).toLongLong(), theirs = other.data(column, kSortRole).toLongLong();
            if (mine != theirs) return mine < theirs;
        }
        if (column == 2) {
            const int byType = QString::localeAwareCompare(text(2), other.text(2));
            if (byType != 0) return byType < 0;
        }
        return QString::localeAwareCompare(text(0), other.text(0)) < 0;
    }
};

struct Place {
    QString title;
    fs::path folder;
};

std::vector<Place> places() {
    std::vector<Place> list;
    const auto add = [&list](const QString& title, const fs::path& folder) {
        std::error_code ec;
        if (folder.empty() || !fs::is_directory(folder, ec)) return;
        for (const auto& place : list)
            if (place.folder == folder) return;
        list.push_back({title, folder});
    };
    if (const char* home = std::getenv("HOME"); home && *home) add("Home", home);
    for (const auto& [title, location] : std::vector<std::pair<QString, QStandardPaths::StandardLocation>>{
             {"Desktop", QStandardPaths::DesktopLocation},
             {"Documents", QStandardPaths::DocumentsLocation},
             {"Downloads", QStandardPaths::DownloadLocation},
             {"Music", QStandardPaths::MusicLocation},
             {"Pictures", QStandardPaths::PicturesLocation},
             {"Videos", QStandardPaths::MoviesLocation}}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty()) add(title, fs::path(folder.toStdString()));
    }
    add("Computer", "/");
    return list;
}

}  // namespace

QString ConvertFilesDialog::displayName(const std::string& bytes) {
    return QString::fromStdString(isValidUtf8(bytes) ? bytes : replaceInvalidUtf8(bytes));
}

ConvertFilesDialog::ConvertFilesDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Choose files to send through the Portal");
    auto* column = new QVBoxLayout(this);

    auto* pathRow = new QHBoxLayout;
    auto* up = new QToolButton;
    up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setToolTip("Enclosing folder");
    up->setAccessibleName("Enclosing folder");
    connect(up, &QToolButton::clicked, this, [this] { setDirectory(paths::deletingLastComponent(m_folder)); });
    pathRow->addWidget(up);
    m_location = new QLineEdit;
    connect(m_location, &QLineEdit::returnPressed, this, &ConvertFilesDialog::goToTyped);
    pathRow->addWidget(m_location, 1);
    column->addLayout(pathRow);

    auto* body = new QHBoxLayout;
    m_places = new QListWidget;
    int placesWidth = 0;
    for (const auto& place : places()) {
        auto* item = new QListWidgetItem(place.title, m_places);
        item->setData(kPathRole, bytesOf(place.folder));
        item->setToolTip(displayName(place.folder.native()));
        placesWidth = std::max(placesWidth, fontMetrics().horizontalAdvance(place.title));
    }
    m_places->setFixedWidth(placesWidth + 4 * fontMetrics().averageCharWidth() + 12);
    connect(m_places, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        setDirectory(item->data(kPathRole).toByteArray().toStdString());
    });
    body->addWidget(m_places);

    m_view = new QTreeWidget;
    m_view->setObjectName("treeView");
    m_view->setHeaderLabels({"Name", "Size", "Type", "Date Modified"});
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(0, Qt::AscendingOrder);
    // The size, type and date columns as wide as what they show and their titles; the name
    // takes the rest.
    QHeaderView* header = m_view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c <= 3; ++c) header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    connect(m_view, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { activate(item); });
    connect(m_view, &QTreeWidget::itemSelectionChanged, this, &ConvertFilesDialog::selectionChanged);
    body->addWidget(m_view, 1);
    column->addLayout(body, 1);

    auto* footer = new QHBoxLayout;
    m_problem = new QLabel;
    m_problem->setWordWrap(true);
    footer->addWidget(m_problem, 1);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QDialogButtonBox::Cancel);
    // Return in the list opens the current folder or converts the chosen files (see activate);
    // the button converts only while files are chosen.
    m_convert = buttons->addButton("Convert", QDialogButtonBox::AcceptRole);
    m_convert->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!selectedFiles().empty()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    footer->addWidget(buttons);
    column->addLayout(footer);

    // Room for the name beside the other columns at their usual widths.
    resize(std::max(sizeHint().width(), 40 * fontMetrics().averageCharWidth() + 420 + m_places->width()),
           std::max(sizeHint().height(), 420));
    const char* home = std::getenv("HOME");
    if (!setDirectory(home && *home ? fs::path(home) : fs::path("/"))) setDirectory("/");
    m_view->setFocus();
}

bool ConvertFilesDialog::setDirectory(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::none, ec);
    if (ec) {
        m_problem->setText("Can\u2019t open \u201c" + displayName(paths::lastComponent(folder)) + "\u201d: " +
                           QString::fromStdString(ec.message()) + ".");
        return false;
    }
    std::vector<Entry*> entries;
    const QMimeDatabase types;
    const QLocale locale;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const fs::path path = it->path();
        const std::string name = path.filename().native();
        if (name.empty() || name.front() == '.') continue;  // hidden, as file managers keep them
        struct stat facts {};
        if (::stat(path.c_str(), &facts) != 0) continue;  // a dangling link
        const bool isFolder = S_ISDIR(facts.st_mode);
        if (!isFolder && !S_ISREG(facts.st_mode)) continue;  // devices, sockets, pipes
        auto* entry = new Entry;
        const QString shown = displayName(name);
        entry->setText(0, shown);
        entry->setIcon(0, style()->standardIcon(isFolder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
        entry->setData(0, kPathRole, bytesOf(path));
        entry->setData(0, kFolderRole, isFolder);
        if (!isFolder) {
            entry->setText(1, locale.formattedDataSize(facts.st_size));
            entry->setData(1, kSortRole, static_cast<qlonglong>(facts.st_size));
            entry->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
        entry->setText(2, isFolder ? QStringLiteral("Folder")
                                   : types.mimeTypeForFile(shown, QMimeDatabase::MatchExtension).comment());
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(facts.st_mtime);
        entry->setText(3, locale.toString(modified, QLocale::ShortFormat));
        entry->setData(3, kSortRole, static_cast<qlonglong>(facts.st_mtime));
        entries.push_back(entry);
    }
    m_folder = folder;
    m_problem->clear();
    m_view->clear();
    for (auto* entry : entries) m_view->addTopLevelItem(entry);
    m_view->sortItems(m_view->sortColumn(), m_view->header()->sortIndicatorOrder());
    if (m_view->topLevelItemCount() > 0) m_view->setCurrentItem(m_view->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    m_location->setText(displayName(folder.native()));
    selectionChanged();
    return true;
}

std::vector<fs::path> ConvertFilesDialog::selectedFiles() const {
    std::vector<fs::path> files;
    for (int i = 0; i < m_view->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_view->topLevelItem(i);
        if (item->isSelected() && !item->data(0, kFolderRole).toBool())
            files.emplace_back(item->data(0, kPathRole).toByteArray().toStdString());
    }
    return files;
}

void ConvertFilesDialog::activate(QTreeWidgetItem* item) {
    if (!item) return;
    if (item->data(0, kFolderRole).toBool()) {
        setDirectory(item->data(0, kPathRole).toByteArray().toStdString());
        return;
    }
    if (!item->isSelected()) {
        m_view->clearSelection();
        item->setSelected(true);
    }
    if (!selectedFiles().empty()) accept();
}

void ConvertFilesDialog::goToTyped() {
    QString typed = m_location->text().trimmed();
    if (typed == "~" || typed.startsWith("~/")) typed.replace(0, 1, QDir::homePath());
    fs::path path = typed.toStdString();
    if (path.is_relative()) path = m_folder / path;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        // A file typed by its path: chosen as it is.
        if (setDirectory(paths::deletingLastComponent(path))) {
            for (int i = 0; i < m_view->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = m_view->topLevelItem(i);
                item->setSelected(item->data(0, kPathRole).toByteArray().toStdString() == path.native());
            }
            if (!selectedFiles().empty()) accept();
        }
        return;
    }
    if (setDirectory(path)) m_view->setFocus();
}

void ConvertFilesDialog::selectionChanged() {
    m_convert->setEnabled(!selectedFiles().empty());
}

std::unique_ptr<ConvertFilesDialog> makeConvertFilesDialog() {
    return std::make_unique<ConvertFilesDialog>();
}

}  // namespace kolvex
