#pragma once

#include <NodwardenApp/platform/HookSetup.hpp>

#include <QWidget>

class QCheckBox;
class QLabel;

namespace nodwarden::app {

class AppModel;

/// On-screen text detection and its permission, reading the agents' own status records,
/// connecting agents through their hooks, and notes on the other heuristics.
class SettingsDetectionTab : public QWidget {
    Q_OBJECT
public:
    /// `agentHooks` is where "Connect agents…" edits the agents' settings.
    SettingsDetectionTab(AppModel& model, HookSetupPlace agentHooks, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    HookSetupPlace agentHooks_;
    QCheckBox* useAccessibility_ = nullptr;
    QCheckBox* useStatusRecords_ = nullptr;
    QLabel* permission_ = nullptr;
};

} // namespace nodwarden::app
