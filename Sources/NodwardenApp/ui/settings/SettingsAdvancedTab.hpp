#pragma once

#include <QWidget>

namespace nodwarden::app {

class AppModel;
struct SettingsDesktopHooks;

/// The diagnostic log and the emergency restore; in debug builds also the simulator.
class SettingsAdvancedTab : public QWidget {
    Q_OBJECT
public:
    SettingsAdvancedTab(AppModel& model, const SettingsDesktopHooks& hooks,
                        QWidget* parent = nullptr);

private:
    AppModel& model_;
    const SettingsDesktopHooks& hooks_;
};

} // namespace nodwarden::app
