#include "AgentHooksDialog.hpp"

#include "SettingsWidgets.hpp"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
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
        return agent.needsTrust
                   ? AgentHooksDialog::tr("Connected; trust it in Codex's /hooks screen")
                   : AgentHooksDialog::tr("Connected");
    }
    return agent.found ? AgentHooksDialog::tr("Not connected") : AgentHooksDialog::tr("Not found");
}

/// `path` with the home folder written as "~".
QString shortPath(const std::filesystem::path& path) {
    const QString text = QString::fromStdString(path.string());
    const QString home = QDir::homePath();
    return text.startsWith(home + u'/') ? u'~' + text.mid(home.size()) : text;
}

/// Where the agent was looked for, or where its hooks are.
QString whereText(const AgentHookState& agent) {
    if (agent.found || agent.connected) {
        return shortPath(agent.file);
    }
    return AgentHooksDialog::tr("Looked for %1 and for %2 on the search path; Connect makes %3")
        .arg(shortPath(agent.folder), text(agent.program), shortPath(agent.file));
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
        row.where = SettingsUi::note(QString(), QStringLiteral("agentHooksWhere.") + word, this);
        row.button =
            SettingsUi::button(QString(), QStringLiteral("agentHooksButton.") + word, this);
        connect(row.button, &QPushButton::clicked, this,
                [this, name = agent.word] { toggle(name); });
        grid->addWidget(row.state, line, 1);
        grid->addWidget(row.button, line, 2);
        grid->addWidget(row.where, line + 1, 0, 1, 3);
        rows_.emplace(agent.word, row);
        line += 2;
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
        row->second.where->setText(whereText(agent));
        // A desktop session's search path often lacks where the agent was installed: one not
        // found is connected all the same.
        row->second.button->setEnabled(true);
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
