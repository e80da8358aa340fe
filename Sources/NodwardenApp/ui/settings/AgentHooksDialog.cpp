#include "AgentHooksDialog.hpp"

#include "SettingsWidgets.hpp"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace nodwarden::app {

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString stateText(const AgentHookState& agent) {
    if (agent.connected) {
        return agent.needsTrust ? QCoreApplication::translate(
                                      "Settings", "Connected; trust it in Codex's /hooks screen")
                                : QCoreApplication::translate("Settings", "Connected");
    }
    return agent.found ? QCoreApplication::translate("Settings", "Not connected")
                       : QCoreApplication::translate("Settings", "Not found");
}

} // namespace

AgentHooksDialog::AgentHooksDialog(AgentHookConnecting& agentHooks, QWidget* parent)
    : QDialog(parent), agentHooks_(agentHooks) {
    setObjectName(QStringLiteral("agentHooksDialog"));
    setWindowTitle(tr("Connect Agents"));
    // Wide enough for a state and its note on one line.
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SettingsUi::note(
        tr("Connecting an agent adds Stayloom's hooks to that agent's own settings, "
           "beside yours, so the agent says when a turn starts and ends. ") +
            QCoreApplication::translate("AgentHooks", agentHookPrivacyNote),
        QStringLiteral("agentHooksNote"), this));
    auto* grid = new QGridLayout;
    int line = 0;
    for (const AgentHookState& agent : agentHooks_.list()) {
        const QString word = text(agent.word);
        grid->addWidget(
            SettingsUi::label(text(agent.name), QStringLiteral("agentHooksName.") + word, this),
            line, 0);
        Row row;
        row.state = SettingsUi::label(QString(), QStringLiteral("agentHooksState.") + word, this);
        row.button =
            SettingsUi::button(QString(), QStringLiteral("agentHooksButton.") + word, this);
        connect(row.button, &QPushButton::clicked, this,
                [this, name = agent.word] { toggle(name); });
        grid->addWidget(row.state, line, 1);
        grid->addWidget(row.button, line, 2);
        rows_.emplace(agent.word, row);
        ++line;
    }
    layout->addLayout(grid);
    message_ = SettingsUi::note(QString(), QStringLiteral("agentHooksMessage"), this);
    layout->addWidget(message_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    refresh();
}

void AgentHooksDialog::refresh() {
    for (const AgentHookState& agent : agentHooks_.list()) {
        const auto row = rows_.find(agent.word);
        if (row == rows_.end()) {
            continue;
        }
        row->second.connected = agent.connected;
        row->second.state->setText(stateText(agent));
        row->second.state->setAccessibleName(text(agent.name) + QStringLiteral(": ") +
                                             stateText(agent));
        row->second.button->setText(agent.connected ? tr("Disconnect") : tr("Connect"));
        row->second.button->setAccessibleName(row->second.button->text() + u' ' + text(agent.name));
        row->second.button->setEnabled(agent.found || agent.connected);
    }
}

void AgentHooksDialog::toggle(const std::string& agent) {
    const auto row = rows_.find(agent);
    if (row == rows_.end()) {
        return;
    }
    const AgentHookChange result =
        row->second.connected ? agentHooks_.disconnect(agent) : agentHooks_.connect(agent);
    message_->setText(text(result.text));
    refresh();
}

} // namespace nodwarden::app
