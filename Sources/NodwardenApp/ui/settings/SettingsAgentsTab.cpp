#include "SettingsAgentsTab.hpp"

#include "SettingsEditing.hpp"
#include "SettingsWidgets.hpp"

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace nodwarden::app {

SettingsAgentsTab::SettingsAgentsTab(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("agentsSettingsPane"));
    setAccessibleName(tr("Agents"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(SettingsUi::label(
        tr("Choose which AI agents to watch. Only checked agents are monitored — and "
           "only while they are actually running."),
        QStringLiteral("agentsIntro"), this));

    const std::vector<AgentProfile> catalog = AgentCatalog::offered();
    auto addSection = [&](AgentProfile::Kind kind, const QString& title, const QString& name) {
        auto* section = new SettingsBox(title, QString(), name, this);
        auto* grid = new QGridLayout;
        int index = 0;
        for (const AgentProfile& profile : catalog) {
            if (profile.kind != kind) {
                continue;
            }
            QCheckBox* box = SettingsUi::checkBox(
                QString::fromStdString(profile.displayName),
                QStringLiteral("agentCheckBox.") + QString::fromStdString(profile.id), section);
            connect(box, &QCheckBox::toggled, this,
                    [this, id = profile.id](bool on) { setAgentEnabled(id, on); });
            agentBoxes_.emplace_back(profile.id, box);
            grid->addWidget(box, index / 2, index % 2, Qt::AlignLeft);
            ++index;
        }
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(1, 1);
        section->content()->addLayout(grid);
        layout->addWidget(section);
        return section;
    };
    addSection(AgentProfile::Kind::cli, tr("Command-line agents"),
               QStringLiteral("cliAgentsSection"));
    addSection(AgentProfile::Kind::desktopAI, tr("Desktop apps"),
               QStringLiteral("desktopAgentsSection"));
    addSection(AgentProfile::Kind::editor, tr("Code editors & agentic IDEs"),
               QStringLiteral("editorAgentsSection"));
    SettingsBox* browsers = addSection(AgentProfile::Kind::browser, tr("Browsers"),
                                       QStringLiteral("browserAgentsSection"));
    enableBrowsers_ = SettingsUi::checkBox(tr("Watch agents running inside browsers (noisy)"),
                                           QStringLiteral("enableBrowsersCheckBox"), browsers);
    connect(enableBrowsers_, &QCheckBox::toggled, this, [this](bool on) {
        GuardSettings settings = model_.settings();
        settings.enableBrowsers = on;
        model_.commitSettings(settings);
    });
    browsers->content()->addWidget(enableBrowsers_);
    browsers->content()->addWidget(SettingsUi::note(
        tr("Browser tabs trigger easily — enable only if you run agents in a browser."),
        QStringLiteral("enableBrowsersNote"), browsers));

    auto* custom =
        new SettingsBox(tr("Custom apps"), QString(), QStringLiteral("customAppsSection"), this);
    customApps_ = new QPlainTextEdit(custom);
    customApps_->setObjectName(QStringLiteral("customAppsField"));
    customApps_->setAccessibleName(tr("Custom apps"));
    customApps_->setTabChangesFocus(true);
    customApps_->setFixedHeight(96);
    connect(customApps_, &QPlainTextEdit::textChanged, this, &SettingsAgentsTab::customAppsEdited);
    custom->content()->addWidget(customApps_);
    custom->content()->addWidget(SettingsUi::note(
        tr("One app or command name per line — for agents not listed above (matched "
           "loosely)."),
        QStringLiteral("customAppsNote"), custom));
    layout->addWidget(custom);
    layout->addStretch();

    connect(&model_, &AppModel::settingsChanged, this, &SettingsAgentsTab::refresh);
    refresh();
}

void SettingsAgentsTab::setAgentEnabled(const std::string& agentID, bool enabled) {
    GuardSettings settings = model_.settings();
    settings.disabledAgentIDs =
        SettingsEditing::withAgentEnabled(std::move(settings.disabledAgentIDs), agentID, enabled);
    model_.commitSettings(settings);
}

void SettingsAgentsTab::customAppsEdited() {
    const std::vector<std::string> names =
        SettingsEditing::customAppsFromText(customApps_->toPlainText());
    if (names == model_.settings().targetApps) {
        return; // blank lines and surrounding spaces alone change nothing stored
    }
    GuardSettings settings = model_.settings();
    settings.targetApps = names;
    model_.commitSettings(settings);
}

void SettingsAgentsTab::refresh() {
    const GuardSettings& settings = model_.settings();
    for (const auto& [id, box] : agentBoxes_) {
        const QSignalBlocker blocker(box);
        box->setChecked(std::find(settings.disabledAgentIDs.begin(),
                                  settings.disabledAgentIDs.end(),
                                  id) == settings.disabledAgentIDs.end());
    }
    {
        const QSignalBlocker blocker(enableBrowsers_);
        enableBrowsers_->setChecked(settings.enableBrowsers);
    }
    // Only a change made elsewhere replaces the text, so typing keeps its cursor and blank lines.
    if (SettingsEditing::customAppsFromText(customApps_->toPlainText()) != settings.targetApps) {
        const QSignalBlocker blocker(customApps_);
        customApps_->setPlainText(SettingsEditing::customAppsText(settings.targetApps));
    }
}

} // namespace nodwarden::app
