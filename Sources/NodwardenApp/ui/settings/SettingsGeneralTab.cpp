#include "SettingsGeneralTab.hpp"

#include "SettingsDesktopHooks.hpp"
#include "SettingsEditing.hpp"
#include "SettingsStyle.hpp"
#include "SettingsWidgets.hpp"
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include <tuple>

namespace nodwarden::app {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A line with the warning triangle before a small orange text.
QWidget* warningLine(const QString& objectName, QLabel*& text, QWidget* parent) {
    auto* line = new QWidget(parent);
    line->setObjectName(objectName);
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(SettingsUi::symbol(QStringLiteral("exclamationmark.triangle.fill"), line, 16,
                                         Theme::orange()),
                      0, Qt::AlignTop);
    text = SettingsUi::note(QString(), objectName + QStringLiteral("Text"), line);
    SettingsStyle::makeWarning(*text);
    layout->addWidget(text, 1);
    return line;
}

} // namespace

SettingsGeneralTab::SettingsGeneralTab(AppModel& model, const SettingsDesktopHooks& hooks,
                                       QWidget* parent)
    : QWidget(parent), model_(model), hooks_(hooks) {
    setObjectName(QStringLiteral("generalSettingsPane"));
    setAccessibleName(tr("General"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(buildHeader());
    layout->addWidget(buildUpdatesBox());
    layout->addWidget(buildStateBox());
    layout->addWidget(buildAgentsBox());
    layout->addWidget(buildModeBox());
    layout->addWidget(buildStartupBox());
    layout->addWidget(buildNotificationsBox());
    layout->addStretch();

    for (auto signal :
         {&PublishedStatus::statusChanged, &PublishedStatus::batteryDescriptionChanged,
          &PublishedStatus::detectedAppNameChanged, &PublishedStatus::agentRowsChanged,
          &PublishedStatus::statusReasonChanged}) {
        connect(&model_.published(), signal, this, &SettingsGeneralTab::refreshState);
    }
    for (auto signal : {&AppModel::keptAwakeChanged, &AppModel::settingsChanged}) {
        connect(&model_, signal, this, &SettingsGeneralTab::refreshState);
    }
    for (auto signal :
         {&SleepCommands::lidClosedProtectionEngagedChanged, &SleepCommands::inFlightChanged}) {
        connect(&model_.sleepCommands(), signal, this, &SettingsGeneralTab::refreshState);
    }
    connect(&model_.published(), &PublishedStatus::agentRowsChanged, this,
            &SettingsGeneralTab::refreshAgents);
    connect(&model_, &AppModel::modeChanged, this, &SettingsGeneralTab::refreshMode);
    connect(&model_, &AppModel::settingsChanged, this, &SettingsGeneralTab::refreshSettings);
    connect(&model_.launchAtLogin(), &LaunchAtLogin::messageChanged, this,
            &SettingsGeneralTab::refreshSettings);
    refreshState();
    refreshAgents();
    refreshMode();
    refreshSettings();
}

QWidget* SettingsGeneralTab::buildHeader() {
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("brandHeader"));
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(SettingsUi::symbol(QString::fromUtf8(cupMarkSymbol), header, 32));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    QLabel* name = SettingsUi::label(QStringLiteral("Stayloom"), QStringLiteral("productName"));
    QFont font = name->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    name->setFont(font);
    texts->addWidget(name);
    texts->addWidget(
        SettingsUi::note(tr("Version ") + qs(BuildInfo::version), QStringLiteral("versionLabel")));
    layout->addLayout(texts, 1);
    return header;
}

QWidget* SettingsGeneralTab::buildUpdatesBox() {
    auto* box = new SettingsBox(tr("Updates"), QStringLiteral("arrow.down.circle"),
                                QStringLiteral("updatesBox"), this);
    // This build carries no update feed, so the updater never starts. Where the platform's builds
    // update themselves its controls stay visible for orientation but cannot be used; elsewhere
    // the system's packages update the program and only that is said.
    if (!model_.wording().updatesItself) {
        box->content()->addWidget(SettingsUi::note(
            tr("This build has no update feed; it is updated with the system's packages."),
            QStringLiteral("noUpdateFeedNote"), box));
        return box;
    }
    QCheckBox* autoCheck = SettingsUi::checkBox(tr("Automatically check for updates"),
                                                QStringLiteral("autoCheckUpdatesCheckBox"), box);
    autoCheck->setEnabled(false);
    box->content()->addWidget(autoCheck);
    QPushButton* check =
        SettingsUi::button(tr("Check for Updates…"), QStringLiteral("checkForUpdatesButton"), box);
    check->setEnabled(false);
    auto* row = new QHBoxLayout;
    row->addWidget(check);
    row->addStretch();
    box->content()->addLayout(row);
    const QString domain = QUrl(qs(BuildInfo::websiteBaseURL)).host();
    box->content()->addWidget(SettingsUi::note(model_.wording().updatesNote.arg(domain),
                                               QStringLiteral("updatesNote"), box));
    box->content()->addWidget(SettingsUi::note(
        tr("This build has no update feed; it is updated with the system's packages."),
        QStringLiteral("noUpdateFeedNote"), box));
    return box;
}

QWidget* SettingsGeneralTab::buildStateBox() {
    stateBox_ = new SettingsBox(tr("Current State"), model_.published().statusIconName(),
                                QStringLiteral("currentStateBox"), this);
    auto* form = new QFormLayout;
    form->setHorizontalSpacing(16);
    auto addRow = [&](const QString& title, const QString& name) {
        QLabel* value = SettingsUi::label(QString(), name, stateBox_);
        value->setAccessibleName(title);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(title, value);
        return value;
    };
    statusValue_ = addRow(tr("Status"), QStringLiteral("stateStatusValue"));
    powerValue_ = addRow(tr("Power"), QStringLiteral("statePowerValue"));
    detectedValue_ = addRow(tr("Detected agent"), QStringLiteral("stateDetectedAgentValue"));
    agentsValue_ = addRow(tr("Agents"), QStringLiteral("stateAgentsValue"));
    lidValue_ =
        addRow(tr("Lid-closed prevention"), QStringLiteral("stateLidClosedPreventionValue"));
    stateBox_->content()->addLayout(form);
    stateWarning_ =
        warningLine(QStringLiteral("stateLidClosedWarning"), stateWarningText_, stateBox_);
    stateBox_->content()->addWidget(stateWarning_);
    reason_ = SettingsUi::note(QString(), QStringLiteral("stateReason"), stateBox_);
    stateBox_->content()->addWidget(reason_);
    return stateBox_;
}

QWidget* SettingsGeneralTab::buildAgentsBox() {
    auto* box = new SettingsBox(tr("Agent Detection"), QStringLiteral("bolt.badge.clock"),
                                QStringLiteral("agentDetectionBox"), this);
    agentRows_ = box->content();
    return box;
}

QWidget* SettingsGeneralTab::buildModeBox() {
    auto* box =
        new SettingsBox(tr("Mode"), QStringLiteral("switch.2"), QStringLiteral("modeBox"), this);
    modePicker_ = new QComboBox(box);
    modePicker_->setObjectName(QStringLiteral("modePicker"));
    modePicker_->setAccessibleName(tr("Mode"));
    modePicker_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    modePicker_->setMinimumWidth(280);
    // The names and order every list of modes shows (the tray menu's too).
    for (const auto& [mode, name] : model_.wording().modeNames) {
        modePicker_->addItem(name, qs(rawValue(mode)));
    }
    connect(modePicker_, &QComboBox::activated, this, [this](int index) {
        const auto mode =
            appModeFromRawValue(modePicker_->itemData(index).toString().toStdString());
        if (mode) {
            model_.setMode(*mode);
        }
    });
    box->content()->addWidget(modePicker_);
    return box;
}

QWidget* SettingsGeneralTab::buildStartupBox() {
    auto* box = new SettingsBox(tr("Startup and Safety"), QStringLiteral("lock.shield"),
                                QStringLiteral("startupAndSafetyBox"), this);
    QVBoxLayout* content = box->content();

    auto* launchRow = new QHBoxLayout;
    launchAtLogin_ =
        SettingsUi::checkBox(tr("Launch at login"), QStringLiteral("launchAtLoginCheckBox"), box);
    connect(launchAtLogin_, &QCheckBox::toggled, this, [this](bool on) {
        model_.setLaunchAtLogin(on);
        refreshSettings(); // the platform may have refused: show what the model kept
    });
    launchRow->addWidget(launchAtLogin_);
    launchRow->addStretch();
    QPushButton* openLoginItems = SettingsUi::button(model_.wording().openLoginItemsLabel,
                                                     QStringLiteral("openLoginItemsButton"), box);
    connect(openLoginItems, &QPushButton::clicked, this, [this] {
        if (hooks_.openLoginItems) {
            hooks_.openLoginItems();
        }
    });
    launchRow->addWidget(openLoginItems);
    content->addLayout(launchRow);
    launchMessage_ = SettingsUi::note(QString(), QStringLiteral("launchAtLoginMessage"), box);
    content->addWidget(launchMessage_);

    restoreOnQuit_ = SettingsUi::checkBox(tr("Restore normal sleep on quit"),
                                          QStringLiteral("restoreNormalSleepOnQuitCheckBox"), box);
    connect(restoreOnQuit_, &QCheckBox::toggled, this, [this](bool on) {
        commitEdit([on](GuardSettings& settings) { settings.restoreNormalSleepOnQuit = on; });
    });
    content->addWidget(restoreOnQuit_);

    letDisplaySleep_ = SettingsUi::checkBox(tr("Let the display sleep"),
                                            QStringLiteral("letDisplaySleepCheckBox"), box);
    connect(letDisplaySleep_, &QCheckBox::toggled, this, [this](bool on) {
        commitEdit([on](GuardSettings& settings) { settings.letDisplaySleep = on; });
    });
    content->addWidget(letDisplaySleep_);
    content->addWidget(SettingsUi::note(model_.wording().letDisplaySleepHelp,
                                        QStringLiteral("letDisplaySleepHelp"), box));

    lidClosed_ = SettingsUi::checkBox(tr("Keep awake with the lid closed"),
                                      QStringLiteral("keepAwakeWithLidClosedCheckBox"), box);
    connect(lidClosed_, &QCheckBox::toggled, this, [this](bool on) {
        commitEdit([on](GuardSettings& settings) { settings.keepAwakeWithLidClosed = on; });
    });
    content->addWidget(lidClosed_);
    content->addWidget(SettingsUi::note(model_.wording().lidClosedHelp,
                                        QStringLiteral("keepAwakeWithLidClosedHelp"), box));
    QLabel* heat = nullptr;
    content->addWidget(warningLine(QStringLiteral("lidClosedHeatWarning"), heat, box));
    heat->setText(model_.wording().lidClosedHeatWarning);
    heat->setAccessibleName(heat->text());
    startupWarning_ = SettingsUi::note(QString(), QStringLiteral("startupLidClosedWarning"), box);
    SettingsStyle::makeWarning(*startupWarning_);
    content->addWidget(startupWarning_);
    return box;
}

QWidget* SettingsGeneralTab::buildNotificationsBox() {
    auto* box = new SettingsBox(tr("Notifications"), QStringLiteral("checklist"),
                                QStringLiteral("notificationsBox"), this);
    const std::vector<std::tuple<QString, QString, bool NotificationChoices::*>> groups{
        {tr("When the agents finish"), QStringLiteral("notifyWorkDoneCheckBox"),
         &NotificationChoices::workDone},
        {tr("When the battery or heat lets the computer sleep"),
         QStringLiteral("notifySafetyCheckBox"), &NotificationChoices::safety},
        {tr("When the battery runs low"), QStringLiteral("notifyBatteryWarningCheckBox"),
         &NotificationChoices::batteryWarning},
        {tr("When lid-closed mode or launch at login fails"),
         QStringLiteral("notifyProblemsCheckBox"), &NotificationChoices::problems},
    };
    for (const auto& [title, name, member] : groups) {
        QCheckBox* check = SettingsUi::checkBox(title, name, box);
        connect(check, &QCheckBox::toggled, this, [this, member = member](bool on) {
            commitEdit(
                [on, member](GuardSettings& settings) { settings.notifications.*member = on; });
        });
        box->content()->addWidget(check);
        notificationSwitches_.emplace_back(check, member);
        if (member == &NotificationChoices::workDone) {
            box->content()->addLayout(buildWorkDoneTiming(box));
        }
    }
    return box;
}

QLayout* SettingsGeneralTab::buildWorkDoneTiming(QWidget* box) {
    auto* row = new QHBoxLayout;
    auto* label = SettingsUi::label(tr("Tell me when agents finish:"),
                                    QStringLiteral("workDoneTimingLabel"), box);
    workDoneTiming_ = new QComboBox(box);
    workDoneTiming_->setObjectName(QStringLiteral("workDoneTimingPicker"));
    workDoneTiming_->setAccessibleName(label->text());
    label->setBuddy(workDoneTiming_);
    workDoneTiming_->addItem(tr("at once"), false);
    workDoneTiming_->addItem(tr("after the grace"), true);
    connect(workDoneTiming_, &QComboBox::activated, this, [this](int index) {
        const bool afterGrace = workDoneTiming_->itemData(index).toBool();
        commitEdit([afterGrace](GuardSettings& settings) {
            settings.notifications.workDoneAfterGrace = afterGrace;
        });
    });
    row->addWidget(label);
    row->addWidget(workDoneTiming_);
    row->addStretch(1);
    return row;
}

void SettingsGeneralTab::commitEdit(const std::function<void(GuardSettings&)>& edit) {
    GuardSettings settings = model_.settings();
    edit(settings);
    model_.commitSettings(settings);
}

void SettingsGeneralTab::refreshState() {
    stateBox_->setSymbol(model_.published().statusIconName(),
                         Theme::statusColor(model_.published().status()));
    statusValue_->setText(ReasonTexts::statusName(model_.published().status(), model_.wording()));
    powerValue_->setText(model_.published().batteryDescription());
    detectedValue_->setText(model_.published().detectedAppName());
    agentsValue_->setText(model_.published().agentSummary());
    const std::optional<QString> warning = PanelTexts::lidClosedWarning(model_);
    lidValue_->setText(SettingsEditing::lidClosedPreventionText(
        model_.sleepCommands().lidClosedProtectionEngaged(), warning.has_value()));
    stateWarning_->setVisible(warning.has_value());
    stateWarningText_->setText(warning.value_or(QString()));
    reason_->setText(model_.published().statusReason());
    startupWarning_->setVisible(warning.has_value());
    startupWarning_->setText(warning.value_or(QString()));
}

void SettingsGeneralTab::refreshAgents() {
    while (QLayoutItem* item = agentRows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto& rows = model_.published().agentRows();
    if (rows.empty()) {
        agentRows_->addWidget(SettingsUi::note(tr("No target agent apps detected right now."),
                                               QStringLiteral("noAgentsDetectedLabel")));
        return;
    }
    for (const AgentStatusRow& row : rows) {
        auto* line = new QWidget;
        const QString name = QString::fromStdString(row.name);
        line->setObjectName(QStringLiteral("agentDetectionRow.") + name);
        line->setAccessibleName(name);
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(SettingsUi::symbol(
            row.isWorking ? QStringLiteral("bolt.fill") : QStringLiteral("circle"), line, 16,
            row.isWorking ? Theme::green() : Theme::gray()));
        QLabel* nameLabel = SettingsUi::label(name, QStringLiteral("agentDetectionName"), line);
        nameLabel->setWordWrap(false);
        layout->addWidget(nameLabel);
        layout->addWidget(SettingsUi::note(QString::fromStdString(row.detail),
                                           QStringLiteral("agentDetectionDetail"), line),
                          1);
        agentRows_->addWidget(line);
    }
}

void SettingsGeneralTab::refreshMode() {
    const QSignalBlocker blocker(modePicker_);
    modePicker_->setCurrentIndex(modePicker_->findData(qs(rawValue(model_.mode()))));
}

void SettingsGeneralTab::refreshSettings() {
    const GuardSettings& settings = model_.settings();
    for (auto [box, value] : {std::pair{launchAtLogin_, settings.launchAtLoginEnabled},
                              std::pair{restoreOnQuit_, settings.restoreNormalSleepOnQuit},
                              std::pair{letDisplaySleep_, settings.letDisplaySleep},
                              std::pair{lidClosed_, settings.keepAwakeWithLidClosed}}) {
        const QSignalBlocker blocker(box);
        box->setChecked(value);
    }
    for (const auto& [box, member] : notificationSwitches_) {
        const QSignalBlocker blocker(box);
        box->setChecked(settings.notifications.*member);
    }
    if (workDoneTiming_ != nullptr) {
        const QSignalBlocker blocker(workDoneTiming_);
        workDoneTiming_->setCurrentIndex(settings.notifications.workDoneAfterGrace ? 1 : 0);
        workDoneTiming_->setEnabled(settings.notifications.workDone);
    }
    const std::optional<QString> message = model_.launchAtLogin().message();
    launchMessage_->setVisible(message.has_value());
    launchMessage_->setText(message.value_or(QString()));
}

} // namespace nodwarden::app
