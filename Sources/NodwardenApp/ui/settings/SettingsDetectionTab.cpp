#include "SettingsDetectionTab.hpp"

#include "AgentHooksDialog.hpp"
#include "SettingsWidgets.hpp"

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace nodwarden::app {

SettingsDetectionTab::SettingsDetectionTab(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("detectionSettingsPane"));
    setAccessibleName(tr("Detection"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);

    const PlatformWording& wording = model_.wording();
    auto* accessibility = new SettingsBox(wording.screenTextBoxTitle, QStringLiteral("eye"),
                                          QStringLiteral("accessibilityBox"), this);
    useAccessibility_ = SettingsUi::checkBox(
        wording.screenTextToggle, QStringLiteral("accessibilityDetectionCheckBox"), accessibility);
    connect(useAccessibility_, &QCheckBox::toggled, this, [this](bool on) {
        GuardSettings settings = model_.settings();
        settings.accessibilityDetectionEnabled = on;
        model_.commitSettings(settings);
    });
    accessibility->content()->addWidget(useAccessibility_);
    accessibility->content()->addWidget(SettingsUi::note(
        wording.screenTextOffNote, QStringLiteral("accessibilityNote"), accessibility));
    auto* permissionRow = new QHBoxLayout;
    permissionRow->addWidget(new QLabel(wording.screenTextStateLabel, accessibility));
    permission_ =
        SettingsUi::label(QString(), QStringLiteral("accessibilityPermissionValue"), accessibility);
    permission_->setWordWrap(false);
    permission_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    permissionRow->addWidget(permission_);
    permissionRow->addStretch();
    QPushButton* request =
        SettingsUi::button(wording.screenTextRequestLabel,
                           QStringLiteral("requestAccessibilityPermissionButton"), accessibility);
    connect(request, &QPushButton::clicked, this,
            [this] { model_.requestAccessibilityPermission(); });
    permissionRow->addWidget(request);
    accessibility->content()->addLayout(permissionRow);
    layout->addWidget(accessibility);

    auto* records =
        new SettingsBox(tr("Agent Status Records"), QStringLiteral("doc.text.magnifyingglass"),
                        QStringLiteral("statusRecordsBox"), this);
    useStatusRecords_ =
        SettingsUi::checkBox(tr("Read agents' own status records"),
                             QStringLiteral("statusRecordDetectionCheckBox"), records);
    connect(useStatusRecords_, &QCheckBox::toggled, this, [this](bool on) {
        GuardSettings settings = model_.settings();
        settings.statusRecordDetectionEnabled = on;
        model_.commitSettings(settings);
    });
    records->content()->addWidget(useStatusRecords_);
    records->content()->addWidget(SettingsUi::note(
        tr("Reads only whether a running agent says it is working: the state field of "
           "its session file and the kind of its newest transcript entries, never "
           "prompts, replies or code."),
        QStringLiteral("statusRecordsNote"), records));
    layout->addWidget(records);

    auto* hooks = new SettingsBox(tr("Agent Hooks"), QStringLiteral("terminal"),
                                  QStringLiteral("agentHooksBox"), this);
    hooks->content()->addWidget(SettingsUi::note(
        tr("Agents can tell Stayloom themselves when a turn starts and ends, through "
           "hooks in their own settings. Off until you connect them. ") +
            QCoreApplication::translate("AgentHooks", agentHookPrivacyNote),
        QStringLiteral("agentHooksBoxNote"), hooks));
    QPushButton* connectAgents =
        SettingsUi::button(tr("Connect agents…"), QStringLiteral("connectAgentsButton"), hooks);
    connectAgents->setEnabled(model_.agentHooks() != nullptr);
    connect(connectAgents, &QPushButton::clicked, this, [this] {
        if (model_.agentHooks() == nullptr) {
            return;
        }
        auto* dialog = new AgentHooksDialog(*model_.agentHooks(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    hooks->content()->addWidget(connectAgents, 0, Qt::AlignLeft);
    layout->addWidget(hooks);

    auto* waits =
        new SettingsBox(tr("Questions from Agents"), QStringLiteral("questionmark.bubble"),
                        QStringLiteral("agentWaitsBox"), this);
    keepAwakeWhileWaiting_ =
        SettingsUi::checkBox(tr("Keep awake while an agent waits for me"),
                             QStringLiteral("keepAwakeWhileAgentWaitsCheckBox"), waits);
    connect(keepAwakeWhileWaiting_, &QCheckBox::toggled, this, [this](bool on) {
        GuardSettings settings = model_.settings();
        settings.keepAwakeWhileAgentWaits = on;
        model_.commitSettings(settings);
    });
    waits->content()->addWidget(keepAwakeWhileWaiting_);
    waits->content()->addWidget(SettingsUi::note(
        tr("An agent that asks you something (an approval, a question) is not working: the "
           "computer may sleep after the idle grace. Turn this on if you answer from another "
           "device."),
        QStringLiteral("agentWaitsNote"), waits));
    layout->addWidget(waits);

    auto* heuristics = new SettingsBox(tr("Heuristics"), QStringLiteral("waveform.path.ecg"),
                                       QStringLiteral("heuristicsBox"), this);
    heuristics->content()->addWidget(SettingsUi::note(
        tr("CPU threshold is configured separately for Battery and Plugged In profiles "
           "in the Power tab."),
        QStringLiteral("heuristicsCpuNote"), heuristics));
    heuristics->content()->addWidget(
        SettingsUi::note(wording.networkNote, QStringLiteral("heuristicsNetworkNote"), heuristics));
    layout->addWidget(heuristics);
    layout->addStretch();

    connect(&model_, &AppModel::settingsChanged, this, &SettingsDetectionTab::refresh);
    connect(&model_, &AppModel::accessibilityTrustedChanged, this, &SettingsDetectionTab::refresh);
    refresh();
}

void SettingsDetectionTab::refresh() {
    {
        const QSignalBlocker blocker(useAccessibility_);
        useAccessibility_->setChecked(model_.settings().accessibilityDetectionEnabled);
    }
    {
        const QSignalBlocker blocker(useStatusRecords_);
        useStatusRecords_->setChecked(model_.settings().statusRecordDetectionEnabled);
    }
    {
        const QSignalBlocker blocker(keepAwakeWhileWaiting_);
        keepAwakeWhileWaiting_->setChecked(model_.settings().keepAwakeWhileAgentWaits);
    }
    const PlatformWording& wording = model_.wording();
    permission_->setText(model_.accessibilityTrusted() ? wording.screenTextAllowed
                                                       : wording.screenTextNotAllowed);
    permission_->setAccessibleName(wording.screenTextStateLabel + QStringLiteral(": ") +
                                   permission_->text());
}

} // namespace nodwarden::app
