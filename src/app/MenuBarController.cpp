#include "app/MenuBarController.h"

#include <cmath>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFont>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSystemTrayIcon>

#include "app/FileReveal.h"
#include "app/IssueReport.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/RecentConversions.h"
#include "core/services/UserDefaults.h"
#include "ui/windows/ApplicationResources.h"

namespace kolvex {

MenuBarController::Services MenuBarController::Services::desktop() {
    Services services;
    services.defaults = &UserDefaults::standard();
    services.loginStatus = [] { return LoginItem::status(); };
    services.setLoginItem = [](bool on) { return LoginItem::set(on); };
    services.reveal = [](const std::filesystem::path& file) { revealInFileManager(file); };
    services.chooseFiles = [] {
        QFileDialog dialog;
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setLabelText(QFileDialog::Accept, "Convert");
        dialog.setWindowTitle("Choose files to send through the Portal");
        std::vector<std::filesystem::path> files;
        if (dialog.exec() != QDialog::Accepted) return files;
        for (const QString& file : dialog.selectedFiles()) files.emplace_back(file.toStdString());
        return files;
    };
    services.reportIssue = [] { IssueReport::compose(); };
    services.quit = [] { QApplication::quit(); };
    services.warn = [](const std::string& message, const std::string& detail) {
        QMessageBox box(QMessageBox::Warning, "Kolvex", QString::fromStdString(message));
        box.setInformativeText(QString::fromStdString(detail));
        box.exec();
    };
    return services;
}

MenuBarController::MenuBarController(Commands commands, Services services, QObject* parent)
    : QObject(parent), m_commands(std::move(commands)), m_services(std::move(services)), m_menu(std::make_unique<QMenu>()) {
    connect(m_menu.get(), &QMenu::aboutToShow, this, &MenuBarController::rebuildMenu);
    rebuildMenu();
    if (m_services.showTrayIcon) {
        m_tray = std::make_unique<QSystemTrayIcon>();
        updateIcon(std::nullopt);
        m_tray->setContextMenu(m_menu.get());
        // A left click opens the same menu: the tray icon is the application's only presence.
        connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) m_menu->popup(QCursor::pos());
        });
        m_tray->show();
    }
}

MenuBarController::~MenuBarController() {
    if (m_tray) m_tray->hide();
}

MenuBarController::RowTitle MenuBarController::progressTitle(const std::string& label, double progress,
                                                             bool isForeground) {
    RowTitle title;
    title.label = "  " + label + "  ";
    const long rounded = std::lround(progress * 10);
    const long filled = std::clamp(rounded, 0L, 10L);
    const long empty = std::max(10L - rounded, 0L);
    for (long i = 0; i < filled; ++i) title.bar += "▮";
    for (long i = 0; i < empty; ++i) title.bar += "▯";
    const int percent = static_cast<int>(std::trunc(progress * 100));
    std::string number = std::to_string(percent);
    if (number.size() < 3) number.insert(0, 3 - number.size(), ' ');
    title.percent = "  " + number + "%";
    title.accent = isForeground;
    return title;
}

void MenuBarController::showFailure(const std::string& line) {
    m_failure = line;
    if (!m_activeDescription) {
        m_toolTip = "Kolvex — " + line;
        if (m_tray) m_tray->setToolTip(QString::fromStdString(m_toolTip));
    }
}

void MenuBarController::showProgress(std::optional<double> progress, const std::optional<std::string>& description) {
    if (description) m_activeDescription = description;
    if (progress) {
        const int percent = static_cast<int>(std::trunc(*progress * 100));
        const int count = activeConversionCount ? activeConversionCount() : 0;
        std::string title(1, ' ');
        if (count >= 2) title += std::to_string(count) + " · ";
        title += std::to_string(percent) + "%";
        m_title = std::move(title);
        m_toolTip = m_activeDescription ? "Converting " + *m_activeDescription : std::string("Converting");
        updateIcon(percent);
        m_failure.reset();  // a new conversion: the last failure has been told
    } else {
        m_title.clear();
        m_toolTip = m_failure ? "Kolvex — " + *m_failure : std::string("Kolvex");
        m_activeDescription.reset();
        updateIcon(std::nullopt);
    }
}

std::optional<QRect> MenuBarController::iconScreenFrame() const {
    if (!m_tray) return std::nullopt;
    const QRect frame = m_tray->geometry();
    if (!frame.isValid() || frame.isEmpty()) return std::nullopt;
    return frame;
}

void MenuBarController::updateIcon(std::optional<int> percent) {
    if (!m_tray) return;
    // A tray icon has no title text: the percentage is drawn into the picture instead.
    constexpr int kSize = 44;
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = QApplication::palette().color(QPalette::WindowText);
    const QImage brand = ApplicationResources::menuBarIcon();
    if (percent) {
        painter.setPen(QPen(ink, 4));
        painter.drawEllipse(QRectF(4, 4, kSize - 8, kSize - 8));
        QPen arc(QApplication::palette().color(QPalette::Highlight), 5);
        painter.setPen(arc);
        painter.drawArc(QRectF(4, 4, kSize - 8, kSize - 8), 90 * 16, -static_cast<int>(*percent * 360 * 16 / 100));
        QFont font = painter.font();
        font.setPixelSize(15);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(ink);
        painter.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, QString::number(*percent));
    } else if (!brand.isNull()) {
        painter.drawImage(QRect(0, 0, kSize, kSize), brand.scaled(kSize, kSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    } else {
        painter.setPen(QPen(ink, 4));
        painter.drawEllipse(QRectF(4, 4, kSize - 8, kSize - 8));
        painter.setBrush(ink);
        painter.drawEllipse(QRectF(kSize / 2.0 - 6, kSize / 2.0 - 6, 12, 12));
    }
    painter.end();
    m_tray->setIcon(QIcon(QPixmap::fromImage(image)));
    m_tray->setToolTip(QString::fromStdString(m_toolTip));
}

void MenuBarController::rebuildMenu() {
    QMenu* menu = m_menu.get();
    menu->clear();
    menu->addAction("Kolvex")->setEnabled(false);
    if (m_failure) menu->addAction(QString::fromStdString(*m_failure))->setEnabled(false);
    menu->addSeparator();

    const std::vector<Conversion> running = activeConversions ? activeConversions() : std::vector<Conversion>{};
    if (!running.empty()) {
        const QString header = running.size() == 1 ? QString("Converting")
                                                   : QString("Converting %1 files").arg(running.size());
        menu->addAction(header)->setEnabled(false);
        for (const auto& conversion : running) {
            const RowTitle row = progressTitle(conversion.label, conversion.progress, conversion.isForeground);
            QMenu* submenu = menu->addMenu(QString::fromStdString(row.text()));
            QAction* cancel = submenu->addAction("Cancel This Conversion");
            cancel->setData(QString::fromStdString(conversion.id.toString()));
            const Uuid id = conversion.id;
            connect(cancel, &QAction::triggered, this, [this, id] {
                if (onCancelOneConversion) onCancelOneConversion(id);
            });
            submenu->menuAction()->setEnabled(true);
        }
        if (running.size() >= 2) {
            connect(menu->addAction("Cancel All Conversions"), &QAction::triggered, this, [this] {
                if (m_commands.onCancelConversion) m_commands.onCancelConversion();
            });
        }
        menu->addSeparator();
    }

    QAction* convert = menu->addAction("Convert Files…");
    convert->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(convert, &QAction::triggered, this, &MenuBarController::convertFiles);

    QMenu* recent = menu->addMenu("Recent");
    const auto records = m_services.defaults ? RecentConversionsStore::load(*m_services.defaults)
                                             : std::vector<RecentConversion>{};
    if (records.empty()) {
        recent->addAction("Nothing yet")->setEnabled(false);
    } else {
        for (const auto& record : records) {
            QAction* item = recent->addAction(QString::fromStdString(paths::lastComponent(record.outputPath)));
            item->setData(QString::fromStdString(record.outputPath));
            item->setToolTip(QString::fromStdString("From " + record.sourceName));
            const std::filesystem::path path = record.outputPath;
            connect(item, &QAction::triggered, this, [this, path] {
                if (m_services.reveal) m_services.reveal(path);
            });
        }
        recent->setToolTipsVisible(true);
        recent->addSeparator();
        connect(recent->addAction("Clear Menu"), &QAction::triggered, this, [this] {
            if (m_services.defaults) RecentConversionsStore::clear(*m_services.defaults);
        });
    }
    menu->addSeparator();

    const auto add = [&](const QString& title, const std::function<void()>& action) {
        QAction* item = menu->addAction(title);
        connect(item, &QAction::triggered, this, [action] {
            if (action) action();
        });
        return item;
    };
    add("Settings…", m_commands.onOpenSettings)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    add("Portal Tuning…", m_commands.onOpenTuning);
    QAction* login = menu->addAction("Open at Login");
    login->setCheckable(true);
    const LoginItem::Status status = m_services.loginStatus ? m_services.loginStatus() : LoginItem::Status::notFound;
    login->setChecked(status == LoginItem::Status::enabled);
    if (status == LoginItem::Status::requiresApproval)
        login->setToolTip("Allow Kolvex in your desktop's settings → General → Login Items.");
    connect(login, &QAction::triggered, this, &MenuBarController::toggleLoginItem);
    add("Check for Updates…", m_commands.onCheckForUpdates);
    add("About Kolvex", m_commands.onOpenAbout);
    add("How to Use Kolvex", m_commands.onOpenWelcome);
    add("Report an Issue…", m_services.reportIssue);
    menu->addSeparator();
    add("Quit Kolvex", m_services.quit)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MenuBarController::convertFiles() {
    if (!m_services.chooseFiles) return;
    const auto files = m_services.chooseFiles();
    if (!files.empty() && m_commands.onConvertFiles) m_commands.onConvertFiles(files);
}

void MenuBarController::toggleLoginItem() {
    const auto statusNow = [this] {
        return m_services.loginStatus ? m_services.loginStatus() : LoginItem::Status::notFound;
    };
    const bool wasOn = statusNow() == LoginItem::Status::enabled;
    std::optional<std::string> error =
        m_services.setLoginItem ? m_services.setLoginItem(!wasOn) : std::optional<std::string>("unavailable");
    if (error) {
        Log::app().error("login item: {}", *error);
        if (m_services.warn) {
            m_services.warn(wasOn ? "Could not stop Kolvex opening at login." : "Could not set Kolvex to open at login.",
                            "You can change this in your desktop's settings → General → Login Items, under \"Open at "
                            "Login\".");
        }
    }
    // The check mark follows the real state, read again each time the menu opens.
}

}  // namespace kolvex
