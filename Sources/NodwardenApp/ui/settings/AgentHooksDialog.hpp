#pragma once

#include <NodwardenApp/model/AgentHookConnecting.hpp>

#include <QDialog>

#include <map>
#include <string>

class QLabel;
class QPushButton;

namespace nodwarden::app {

/// "Connect agents…": each agent that has hooks, whether it is found here and connected, and a
/// button to connect or disconnect it. Nothing changes another program's files until the user
/// presses one.
class AgentHooksDialog : public QDialog {
    Q_OBJECT
public:
    explicit AgentHooksDialog(AgentHookConnecting& agentHooks, QWidget* parent = nullptr);

private:
    void refresh();
    void toggle(const std::string& agent);

    AgentHookConnecting& agentHooks_;
    struct Row {
        QLabel* state = nullptr;
        /// Where the agent was looked for, or where its hooks are.
        QLabel* where = nullptr;
        QPushButton* button = nullptr;
        bool connected = false;
    };
    std::map<std::string, Row> rows_;
    QLabel* message_ = nullptr;
};

} // namespace nodwarden::app
