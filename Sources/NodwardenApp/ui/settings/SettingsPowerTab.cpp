#include "SettingsPowerTab.hpp"

#include "SettingsEditing.hpp"
#include "SettingsWidgets.hpp"

#include <NodwardenApp/model/AppModel.hpp>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace nodwarden::app {

PowerProfileEditor::PowerProfileEditor(const QString& title, const QString& subtitle,
                                       const QString& prefix, bool showsBatterySafety,
                                       bool showsUnlimited, QWidget* parent)
    : QWidget(parent) {
    setObjectName(prefix + QStringLiteral("ProfileEditor"));
    setAccessibleName(title);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* box = new SettingsBox(
        title, showsBatterySafety ? QStringLiteral("battery.50") : QStringLiteral("powerplug"),
        prefix + QStringLiteral("ProfileBox"), this);
    outer->addWidget(box);
    QVBoxLayout* content = box->content();
    content->setSpacing(10);
    content->addWidget(SettingsUi::note(subtitle, prefix + QStringLiteral("ProfileSubtitle"), box));

    if (showsBatterySafety) {
        cutoff_ = new PercentageSliderRow(
            tr("Battery cutoff"), tr("At or below this level, release sleep prevention and sleep."),
            prefix + QStringLiteral("BatteryCutoff"), box);
        cutoff_->onEdited = [this](int value) {
            edit([value](GuardPowerProfile& p) { p.batteryCutoffPercent = value; });
        };
        content->addWidget(cutoff_);
        warning_ = new PercentageSliderRow(tr("Warning"), tr("Shows a warning before the cutoff."),
                                           prefix + tr("Warning"), box);
        warning_->onEdited = [this](int value) {
            edit([value](GuardPowerProfile& p) { p.warningPercent = value; });
        };
        content->addWidget(warning_);
    }
    if (showsUnlimited) {
        unlimited_ = SettingsUi::checkBox(tr("Unlimited while plugged in"),
                                          prefix + QStringLiteral("UnlimitedCheckBox"), box);
        connect(unlimited_, &QCheckBox::toggled, this, [this](bool on) {
            edit([on](GuardPowerProfile& p) { p.allowUnlimitedKeepAwake = on; });
        });
        content->addWidget(unlimited_);
    }
    sleepAfterCompletion_ = SettingsUi::checkBox(
        tr("Sleep after completion"), prefix + QStringLiteral("SleepAfterCompletionCheckBox"), box);
    connect(sleepAfterCompletion_, &QCheckBox::toggled, this,
            [this](bool on) { edit([on](GuardPowerProfile& p) { p.sleepAfterCompletion = on; }); });
    content->addWidget(sleepAfterCompletion_);
    onlyIfLidClosed_ =
        SettingsUi::checkBox(tr("Only sleep if lid is closed"),
                             prefix + QStringLiteral("SleepOnlyIfLidClosedCheckBox"), box);
    connect(onlyIfLidClosed_, &QCheckBox::toggled, this,
            [this](bool on) { edit([on](GuardPowerProfile& p) { p.sleepOnlyIfLidClosed = on; }); });
    content->addWidget(onlyIfLidClosed_);
    idleGrace_ = new DurationSliderRow(tr("Idle grace"), prefix + QStringLiteral("IdleGrace"), box);
    idleGrace_->onEdited = [this](double seconds) {
        edit([seconds](GuardPowerProfile& p) { p.idleGracePeriodSeconds = seconds; });
    };
    content->addWidget(idleGrace_);
    cpuThreshold_ = new PercentageSliderRow(
        tr("CPU threshold"),
        tr("Higher means the app needs more CPU activity before it counts as working."),
        prefix + QStringLiteral("CpuThreshold"), box);
    cpuThreshold_->onEdited = [this](int value) {
        edit([value](GuardPowerProfile& p) { p.cpuThresholdPercent = value; });
    };
    content->addWidget(cpuThreshold_);
    content->addStretch();
}

void PowerProfileEditor::setProfile(const GuardPowerProfile& profile) {
    profile_ = profile;
    if (cutoff_ != nullptr) {
        cutoff_->setValue(profile.batteryCutoffPercent);
        warning_->setValue(profile.warningPercent);
    }
    for (auto [box, value] : {std::pair{unlimited_, profile.allowUnlimitedKeepAwake},
                              std::pair{sleepAfterCompletion_, profile.sleepAfterCompletion},
                              std::pair{onlyIfLidClosed_, profile.sleepOnlyIfLidClosed}}) {
        if (box != nullptr) {
            const QSignalBlocker blocker(box);
            box->setChecked(value);
        }
    }
    idleGrace_->setValue(profile.idleGracePeriodSeconds);
    cpuThreshold_->setValue(profile.cpuThresholdPercent);
}

void PowerProfileEditor::edit(const std::function<void(GuardPowerProfile&)>& change) {
    if (!profile_) {
        return;
    }
    GuardPowerProfile changed = *profile_;
    change(changed);
    if (onEdited) {
        onEdited(changed);
    }
}

SettingsPowerTab::SettingsPowerTab(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model),
      battery_(new PowerProfileEditor(tr("On Battery"),
                                      tr("Stricter limits protect battery and heat."),
                                      QStringLiteral("battery"), true, false, this)),
      pluggedIn_(new PowerProfileEditor(tr("Plugged In"),
                                        tr("Looser limits are used while AC power is connected."),
                                        QStringLiteral("pluggedIn"), false, true, this)) {
    setObjectName(QStringLiteral("powerSettingsPane"));
    setAccessibleName(tr("Power"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    auto* editors = new QHBoxLayout;
    editors->setSpacing(12);
    editors->addWidget(battery_, 1, Qt::AlignTop);
    editors->addWidget(pluggedIn_, 1, Qt::AlignTop);
    layout->addLayout(editors);

    // Every write goes through the editor's clamp, so stored profiles stay in range.
    battery_->onEdited = [this](const GuardPowerProfile& profile) {
        GuardSettings settings = model_.settings();
        settings.batteryProfile = SettingsEditing::clampedProfile(profile);
        model_.commitSettings(settings);
    };
    pluggedIn_->onEdited = [this](const GuardPowerProfile& profile) {
        GuardSettings settings = model_.settings();
        settings.pluggedInProfile = SettingsEditing::clampedProfile(profile);
        model_.commitSettings(settings);
    };

    auto* switching =
        new SettingsBox(tr("Profile Switching"), QStringLiteral("arrow.left.arrow.right"),
                        QStringLiteral("profileSwitchingBox"), this);
    currentProfile_ =
        SettingsUi::label(QString(), QStringLiteral("currentProfileLabel"), switching);
    switching->content()->addWidget(currentProfile_);
    switching->content()->addWidget(SettingsUi::note(
        tr("If power is unplugged, Stayloom immediately switches to the battery profile."),
        QStringLiteral("profileSwitchingNote"), switching));
    layout->addWidget(switching);
    layout->addStretch();

    connect(&model_, &AppModel::settingsChanged, this, &SettingsPowerTab::refresh);
    connect(&model_.published(), &PublishedStatus::batteryDescriptionChanged, this,
            &SettingsPowerTab::refresh);
    connect(&model_.published(), &PublishedStatus::isOnACPowerChanged, this,
            &SettingsPowerTab::refresh);
    refresh();
}

void SettingsPowerTab::refresh() {
    battery_->setProfile(model_.settings().batteryProfile);
    pluggedIn_->setProfile(model_.settings().pluggedInProfile);
    currentProfile_->setText(
        tr("Current profile: %1")
            .arg(SettingsEditing::currentProfileName(model_.published().isOnACPower())));
    currentProfile_->setAccessibleName(currentProfile_->text());
}

} // namespace nodwarden::app
