#pragma once

#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class QMenu;
class QWidget;

namespace nodwarden::app {

class AppModel;
class StatusPanel;

/// The program's place on the desktop. With a system tray: an icon that follows the status, a
/// tooltip with "Stayloom" and the status, a click that opens the status panel as a frameless
/// popup next to the icon, and a small menu. Without one (plain GNOME, a bare X server): the
/// panel in a small normal window shown at once; closing it leaves the program running, and
/// starting the program again brings it back (`activate`).
class TrayIcon : public QObject {
    Q_OBJECT
public:
    /// The note under the panel when it lives in a window of its own.
    static constexpr const char* windowedNote =
        "No system tray here: closing this window keeps Stayloom running. Start Stayloom again "
        "to bring it back.";

    /// `systemTrayAvailable` is normally `QSystemTrayIcon::isSystemTrayAvailable()`.
    TrayIcon(AppModel& model, PanelClock clock, bool systemTrayAvailable,
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
    QWidget* panelWindow() const;
    StatusPanel* panel() const { return panel_; }

    /// The tray icon for the status of `model`.
    static QIcon statusIcon(const AppModel& model);
    /// "Stayloom — " and the status's name.
    static QString toolTip(const AppModel& model);

private:
    void refreshTrayIcon();
    void placePopup();

    AppModel& model_;
    std::unique_ptr<QWidget> window_;
    StatusPanel* panel_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    std::unique_ptr<QMenu> menu_;
    QString shownIconName_;
};

} // namespace nodwarden::app
