// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MenuBarController.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QFont>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include "app/FileReveal.h"
#include "app/GtkFileChooser.h"
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
    services.chooser = desktopFileChooser();
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
    m_menu->installEventFilter(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &MenuBarController::reopenIfClosedByDeactivation);
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

bool MenuBarController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_menu.get()) {
        if (event->type() == QEvent::Show) {
            m_menuAt = m_menu->pos();
            if (!m_menuReopening) m_menuReopened = false;  // a new opening
            // Shown is not yet on screen: the window is mapped and takes the keyboard after this.
            QTimer::singleShot(0, this, [this] { confirmMenuShown(0); });
        } else if (event->type() == QEvent::Hide) {
            m_menuJustClosed = true;
            QTimer::singleShot(0, this, [this] { m_menuJustClosed = false; });
        }
    }
    return QObject::eventFilter(watched, event);
}

void MenuBarController::confirmMenuShown(int attempt) {
    if (!m_menu->isVisible()) return;
    // The menu's window holds the keyboard once a grab on it succeeds: asked again, the grab
    // the menu already has is kept, and one that failed (another program held the keyboard
    // for a moment) is taken now.
    QWindow* window = m_menu->windowHandle();
    if (window && window->isExposed() && window->setKeyboardGrabEnabled(true)) {
        Log::app().info("Tray menu shown");
        return;
    }
    constexpr int kAttempts = 100;  // two seconds
    if (attempt + 1 >= kAttempts) {
        Log::app().warn("The tray menu is shown but does not hold the keyboard");
        return;
    }
    QTimer::singleShot(20, this, [this, attempt] { confirmMenuShown(attempt + 1); });
}

void MenuBarController::reopenIfClosedByDeactivation(Qt::ApplicationState state) {
    // The menu closes while the state changes, before this is told: a menu closed in this
    // same turn of the event loop was closed by the change, not by the user.
    if (state == Qt::ApplicationActive || !m_menuJustClosed || m_menuReopened) return;
    m_menuJustClosed = false;
    m_menuReopened = true;
    Log::app().info("The tray menu closed as the application became inactive; it opens again");
    m_menuReopening = true;
    m_menu->popup(m_menuAt);
    m_menuReopening = false;
}

MenuBarController::BarCells MenuBarController::barCellsFor(const QFont& font) {
    const QFontMetrics metrics(font);
    for (const auto& [filled, empty] : {std::pair{U'▮', U'▯'}, std::pair{U'■', U'□'}, std::pair{U'█', U'░'}}) {
        if (metrics.inFontUcs4(filled) && metrics.inFontUcs4(empty))
            return {QString::fromUcs4(&filled, 1).toStdString(), QString::fromUcs4(&empty, 1).toStdString()};
    }
    return {"#", "-"};
}

MenuBarController::RowTitle MenuBarController::progressTitle(const std::string& label, double progress,
                                                             bool isForeground, const BarCells& cells) {
    RowTitle title;
    title.label = "  " + label + "  ";
    const long rounded = std::lround(progress * 10);
    const long filled = std::clamp(rounded, 0L, 10L);
    const long empty = std::max(10L - rounded, 0L);
    for (long i = 0; i < filled; ++i) title.bar += cells.filled;
    for (long i = 0; i < empty; ++i) title.bar += cells.empty;
    const int percent = static_cast<int>(std::trunc(progress * 100));
    std::string number = std::to_string(percent);
    if (number.size() < 3) number.insert(0, 3 - number.size(), ' ');
    title.percent = "  " + number + "%";
    title.accent = isForeground;
    return title;
}

MenuBarController::RowTitle MenuBarController::progressTitle(const std::string& label, double progress,
                                                             bool isForeground) {
    return progressTitle(label, progress, isForeground, BarCells());
}

QString MenuBarController::recentItemText(const std::filesystem::path& output, const std::filesystem::path& home) {
    const std::filesystem::path folder = paths::deletingLastComponent(output);
    QString shown = QFile::decodeName(QByteArray::fromStdString(folder.string()));
    const QString homeText = QFile::decodeName(QByteArray::fromStdString(home.string()));
    if (!homeText.isEmpty() && homeText != "/" && (shown == homeText || shown.startsWith(homeText + "/")))
        shown = "~" + shown.mid(homeText.size());
    // Long folders are cut in the middle, where the least telling part of a path usually is.
    constexpr int kMaxFolder = 48;
    if (shown.size() > kMaxFolder) shown = shown.left(kMaxFolder / 2 - 1) + "…" + shown.right(kMaxFolder / 2);
    const QString name = QFile::decodeName(QByteArray::fromStdString(paths::lastComponent(output)));
    return name + "\t" + shown;
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

QImage MenuBarController::trayIcon(std::optional<int> percent) {
    constexpr int kSize = 44;
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QImage mark = ApplicationResources::mark();
    if (!percent && !mark.isNull()) {
        painter.drawImage(QRect(0, 0, kSize, kSize), mark.scaled(kSize, kSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        return image;
    }
    // Colours of our own, not the theme's or the tray's: the tray's background is unknown, so
    // the badge brings its own.
    const QColor disc(22, 23, 28), ring(Qt::white), accent(61, 123, 253);
    const QRectF outer(2, 2, kSize - 4, kSize - 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ring);
    painter.drawEllipse(outer);
    painter.setBrush(disc);
    painter.drawEllipse(outer.adjusted(2.5, 2.5, -2.5, -2.5));
    if (percent) {
        painter.setPen(QPen(accent, 4, Qt::SolidLine, Qt::FlatCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(outer.adjusted(4.5, 4.5, -4.5, -4.5), 90 * 16, -static_cast<int>(*percent * 360 * 16 / 100));
        QFont font;
        font.setPixelSize(*percent >= 100 ? 13 : 16);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(ring);
        painter.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, QString::number(*percent));
    } else {
        painter.setBrush(accent);
        painter.drawEllipse(QRectF(kSize / 2.0 - 7, kSize / 2.0 - 7, 14, 14));
    }
    return image;
}

void MenuBarController::updateIcon(std::optional<int> percent) {
    if (!m_tray) return;
    // A tray icon has no title text: the percentage is drawn into the picture instead.
    m_tray->setIcon(QIcon(QPixmap::fromImage(trayIcon(percent))));
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
        const BarCells cells = barCellsFor(menu->font());
        const QString header = running.size() == 1 ? QString("Converting")
                                                   : QString("Converting %1 files").arg(running.size());
        menu->addAction(header)->setEnabled(false);
        for (const auto& conversion : running) {
            const RowTitle row = progressTitle(conversion.label, conversion.progress, conversion.isForeground, cells);
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
            QAction* item = recent->addAction(recentItemText(record.outputPath, QDir::homePath().toStdString()));
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
        login->setToolTip("Allow Kolvex among the startup applications in your desktop's settings.");
    connect(login, &QAction::triggered, this, &MenuBarController::toggleLoginItem);
    add("About Kolvex", m_commands.onOpenAbout);
    add("How to Use Kolvex", m_commands.onOpenWelcome);
    add("Report an Issue…", m_services.reportIssue);
    menu->addSeparator();
    add("Quit Kolvex", m_services.quit)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MenuBarController::convertFiles() {
    if (!m_services.chooser) return;
    // One chooser at a time: asked again, the new one takes the place of the old.
    if (m_shownChooser) m_services.chooser->withdraw(*m_shownChooser);
    m_shownChooser.reset();
    FileChooser::Request request;
    request.mode = FileChooser::Mode::openFiles;
    request.title = "Choose files to send through the Portal";
    request.acceptLabel = "_Convert";
    // Where files were last chosen, else the home folder.
    request.startFolder = m_lastFolder ? *m_lastFolder
                                       : std::filesystem::path(QFile::encodeName(QDir::homePath()).toStdString());
    QPointer<MenuBarController> self(this);
    const FileChooser::Id id = m_services.chooser->show(request, [self](std::vector<std::filesystem::path> files) {
        if (!self) return;
        self->m_shownChooser.reset();
        if (files.empty()) return;
        self->m_lastFolder = files.front().parent_path();
        if (self->m_commands.onConvertFiles) self->m_commands.onConvertFiles(files);
    });
    // A chooser that answered at once (no desktop to show it on) is not up.
    if (m_services.chooser->isShown(id)) m_shownChooser = id;
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
                            *error + ". You can also change this in your desktop's settings for startup "
                                     "applications.");
        }
    }
    // The check mark follows the real state, read again each time the menu opens.
}

}  // namespace kolvex
