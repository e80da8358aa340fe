#pragma once

#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>
#include <NodwardenCore/model/AppMode.hpp>

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>
#include <utility>
#include <vector>

class QAction;
class QMenu;
class QWidget;
class QTimer;

namespace nodwarden::app {

class AppModel;
class StatusPanel;

/// The program's place on the desktop. With a system tray: an icon that follows the status, a
/// tooltip with the status, its reason and for how long, a click that opens the status panel as
/// a frameless popup next to the icon, and a menu: the modes as radio items, the timed
/// keep-awake, Settings… and Quit. Without one (plain GNOME, a bare X server): the
/// panel in a small normal window shown at once; closing it leaves the program running, and
/// starting the program again brings it back (`activate`).
class TrayIcon : public QObject {
    Q_OBJECT
public:
    /// The note under the panel when it lives in a window of its own.
    static constexpr const char* windowedNote =
        QT_TR_NOOP("No system tray here: closing this window keeps Stayloom running. Start "
                   "Stayloom again to bring it back.");

    /// `systemTrayAvailable` is normally `QSystemTrayIcon::isSystemTrayAvailable()`.
    TrayIcon(AppModel& model, const PanelClock& clock, bool systemTrayAvailable,
             QObject* parent = nullptr);
    ~TrayIcon() override;

    /// Brings the panel forward: opens the popup, or shows and raises the window.
    void activate();
    /// Opens the popup when it is closed and closes it when it is open (a click on the icon).
    void togglePanel();

    bool usesSystemTray() const { return trayIcon_ != nullptr; }
    /// The tray icon; nullptr without a system tray.
    QSystemTrayIcon* systemTrayIcon() const { return trayIcon_.get(); }
    /// The popup or the window the panel lives in.
    QWidget* panelWindow();
    StatusPanel* panel();

    /// The tray icon for the status of `model`.
    static QIcon statusIcon(const AppModel& model);
    /// "Stayloom — " and the status's name; the reason; how long keep-awake has lasted, or how
    /// long a timed one has left, at `now`.
    static QString toolTip(const AppModel& model, Date now);
    /// The tray's menu; nullptr without a system tray.
    QMenu* menu() const { return menu_.get(); }

    /// How often the tooltip's durations are brought up to date.
    static constexpr int toolTipRefreshMilliseconds = 30000;

private:
    /// With a tray the popup is built when first asked for: an icon and its menu alone lay out
    /// no text, so an idle program loads no font and keeps no panel in memory.
    void buildPopup();
    void buildMenu();
    void refreshMenu();
    void refreshTrayIcon();
    void placePopup();

    AppModel& model_;
    PanelClock clock_;
    std::unique_ptr<QWidget> window_;
    StatusPanel* panel_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    /// Refreshes the tooltip: every second during the grace, else now and then.
    QTimer* toolTipTimer_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    QString shownIconName_;
    std::vector<std::pair<AppMode, QAction*>> modeActions_;
};

} // namespace nodwarden::app
