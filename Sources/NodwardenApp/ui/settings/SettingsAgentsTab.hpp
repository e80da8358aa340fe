#pragma once

#include <QWidget>

#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QPlainTextEdit;

namespace nodwarden::app {

class AppModel;

/// Which built-in agents are watched, browsers, and the user's own program names.
class SettingsAgentsTab : public QWidget {
    Q_OBJECT
public:
    explicit SettingsAgentsTab(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();
    void setAgentEnabled(const std::string& agentID, bool enabled);
    void customAppsEdited();

    AppModel& model_;
    /// Each built-in agent's box with its profile identifier.
    std::vector<std::pair<std::string, QCheckBox*>> agentBoxes_;
    QCheckBox* enableBrowsers_ = nullptr;
    QPlainTextEdit* customApps_ = nullptr;
};

} // namespace nodwarden::app
