// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPoint>
#include <QRect>

#include "ui/windows/FileChooser.h"
#include "app/LoginItem.h"
#include "app/PortalConnection.h"

class QAction;
class QFont;
class QImage;
class QString;
class QMenu;
class QSystemTrayIcon;

namespace kolvex {

class UserDefaults;

// The tray icon and its menu: the running conversions (each cancellable), "Convert Files…",
// the recent conversions, the windows and commands. The icon shows the progress of running
// conversions in its picture and tooltip. It knows nothing of the Portal, the settings or the
// windows: the shell hands it one callback per command. GUI thread only.
class MenuBarController : public QObject {
    Q_OBJECT

public:
    using Conversion = PortalConnection::Conversion;

    // The commands, fixed at construction.
    struct Commands {
        std::function<void(const std::vector<std::filesystem::path>&)> onConvertFiles;
        std::function<void()> onOpenSettings;
        std::function<void()> onOpenTuning;
        std::function<void()> onOpenAbout;
        std::function<void()> onOpenWelcome;
        std::function<void()> onCancelConversion;
    };

    // What the menu reaches outside the application; the defaults are the desktop's.
    struct Services {
        UserDefaults* defaults = nullptr;                                           // recent conversions
        std::function<LoginItem::Status()> loginStatus;
        std::function<std::optional<std::string>(bool)> setLoginItem;              // error text
        std::function<void(const std::filesystem::path&)> reveal;                  // in the file manager
        std::shared_ptr<FileChooser> chooser;                                      // "Convert Files…"
        std::function<void()> reportIssue;
        std::function<void()> quit;
        std::function<void(const std::string& message, const std::string& detail)> warn;
        bool showTrayIcon = true;

        static Services desktop();
    };

    // A running conversion's row: the label, a ten-cell bar and the percentage.
    struct RowTitle {
        std::string label;    // two spaces, the label, two spaces
        std::string bar;      // filled ▮ and empty ▯ cells
        std::string percent;  // "  %3d%%"
        bool accent = false;  // the bar in the accent colour (the conversion the Portal shows)
        std::string text() const { return label + bar + percent; }
    };

    MenuBarController(Commands commands, Services services = Services::desktop(), QObject* parent = nullptr);
    ~MenuBarController() override;

    // Assigned after construction; empty ones count as nothing running.
    std::function<void(const Uuid&)> onCancelOneConversion;
    std::function<int()> activeConversionCount;
    std::function<std::vector<Conversion>()> activeConversions;

    // Mean progress (0…1) of the running conversions and the earliest one's label; none and
    // none when nothing runs.
    void showProgress(std::optional<double> progress, const std::optional<std::string>& description);
    // A conversion that failed out of sight: the line heads the menu and ends the tooltip
    // until the next conversion starts.
    void showFailure(const std::string& line);
    const std::optional<std::string>& failure() const { return m_failure; }
    // " 45%", " 3 · 45%", or empty; the tray shows it in its picture and tooltip.
    const std::string& title() const { return m_title; }
    const std::string& toolTip() const { return m_toolTip; }
    // The tray icon's rectangle on screen, when the tray reports one.
    std::optional<QRect> iconScreenFrame() const;

    // The cells of the row's bar: the filled and the empty one.
    struct BarCells {
        std::string filled = "▮";
        std::string empty = "▯";
    };
    // The first pair of cells that `font` (with its fallbacks) can draw: ▮▯, then ■□, then █░,
    // then "#" and "-", which every font has.
    static BarCells barCellsFor(const QFont& font);
    static RowTitle progressTitle(const std::string& label, double progress, bool isForeground,
                                  const BarCells& cells);
    static RowTitle progressTitle(const std::string& label, double progress, bool isForeground);
    // A Recent item: the output's name, then (in the menu's second column) its folder, with the
    // home folder written "~".
    static QString recentItemText(const std::filesystem::path& output, const std::filesystem::path& home);

    // The tray icon's picture. While something runs: the percentage in white on a dark disc
    // ringed in white, with the progress arc around it, so it reads on light and dark trays
    // alike whatever theme the application uses. Otherwise the application's mark.
    static QImage trayIcon(std::optional<int> percent);

    // The menu, rebuilt every time it opens.
    QMenu* menu() const { return m_menu.get(); }
    void rebuildMenu();

    // Menu actions.
    void convertFiles();
    void toggleLoginItem();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateIcon(std::optional<int> percent);
    // Logs "Tray menu shown" once the open menu is on screen and holds the keyboard, so that
    // what is typed next reaches it; `attempt` counts the checks so far.
    void confirmMenuShown(int attempt);
    // The toolkit closes every open menu when the application stops being the active one. It
    // learns that late: a window of ours that lost the keyboard (to the file chooser, or
    // closed) is told inactive some time after, also when the menu opened meanwhile. The menu
    // that closed that way opens again where it was, once per opening.
    void reopenIfClosedByDeactivation(Qt::ApplicationState state);

    Commands m_commands;
    Services m_services;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::optional<std::string> m_activeDescription;
    std::optional<std::string> m_failure;
    std::string m_title;
    std::string m_toolTip;
    std::optional<FileChooser::Id> m_shownChooser;  // "Convert Files…" while it is up
    std::optional<std::filesystem::path> m_lastFolder;  // where the last files were chosen
    QPoint m_menuAt;                 // where the open menu's corner is
    bool m_menuJustClosed = false;   // until the events of its closing are handled
    bool m_menuReopened = false;     // this opening was given back once already
    bool m_menuReopening = false;    // while it is
};

}  // namespace kolvex
