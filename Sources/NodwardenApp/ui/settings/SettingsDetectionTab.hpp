#pragma once

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
    /// "Connect agents…" edits the agents' settings through the model's `agentHooks`.
    explicit SettingsDetectionTab(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QCheckBox* useAccessibility_ = nullptr;
    QCheckBox* useStatusRecords_ = nullptr;
    QCheckBox* keepAwakeWhileWaiting_ = nullptr;
    QLabel* permission_ = nullptr;
};

} // namespace nodwarden::app
