#pragma once

#include <NodwardenCore/model/GuardSettings.hpp>

#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QVBoxLayout;

namespace nodwarden::app {

class AppModel;
class SettingsBox;
struct SettingsDesktopHooks;

/// Version, updates, the live state, detected agents, the mode and the startup and safety flags.
class SettingsGeneralTab : public QWidget {
    Q_OBJECT
public:
    SettingsGeneralTab(AppModel& model, const SettingsDesktopHooks& hooks,
                       QWidget* parent = nullptr);

private:
    QWidget* buildHeader();
    QWidget* buildUpdatesBox();
    QWidget* buildStateBox();
    QWidget* buildAgentsBox();
    QWidget* buildModeBox();
    QWidget* buildStartupBox();
    QWidget* buildNotificationsBox();
    /// The work-done notice's timing under its switch.
    QLayout* buildWorkDoneTiming(QWidget* box);

    void refreshState();
    void refreshAgents();
    void refreshMode();
    void refreshSettings();
    /// Commits the model's settings changed by `edit`, as every interface edit does.
    void commitEdit(const std::function<void(GuardSettings&)>& edit);

    AppModel& model_;
    const SettingsDesktopHooks& hooks_;

    SettingsBox* stateBox_ = nullptr;
    QLabel* statusValue_ = nullptr;
    QLabel* powerValue_ = nullptr;
    QLabel* detectedValue_ = nullptr;
    QLabel* agentsValue_ = nullptr;
    QLabel* lidValue_ = nullptr;
    QWidget* stateWarning_ = nullptr;
    QLabel* stateWarningText_ = nullptr;
    QLabel* reason_ = nullptr;

    QVBoxLayout* agentRows_ = nullptr;
    QComboBox* modePicker_ = nullptr;
    /// "Tell me when agents finish: at once / after the grace".
    QComboBox* workDoneTiming_ = nullptr;

    QCheckBox* launchAtLogin_ = nullptr;
    QLabel* launchMessage_ = nullptr;
    QCheckBox* restoreOnQuit_ = nullptr;
    QCheckBox* letDisplaySleep_ = nullptr;
    QCheckBox* lidClosed_ = nullptr;
    QLabel* startupWarning_ = nullptr;
    /// One switch per group of notices, in the order of `NotificationChoices`.
    std::vector<std::pair<QCheckBox*, bool NotificationChoices::*>> notificationSwitches_;
};

} // namespace nodwarden::app
