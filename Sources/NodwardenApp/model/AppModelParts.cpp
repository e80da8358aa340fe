#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/CommandRunRows.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/model/WindowPresenter.hpp>
#include <NodwardenApp/model/WorkNotifier.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>

namespace nodwarden::app {

using detail::assignIfChanged;

// The model's side of its parts: what it does when one of them changes, and the actions it hands
// to them.

void AppModel::connectParts() {
    connect(sleep_.get(), &SleepCommands::sleepPreventionEnabledChanged, this,
            &AppModel::keptAwakeChanged);
    connect(sleep_.get(), &SleepCommands::lidClosedRefused, this, [this] {
        if (notifier_) {
            notifier_->lidClosedRefused(settings_);
        }
    });
    connect(detection_.get(), &DetectionScheduler::passEnded, this, &AppModel::finishDetectionPass);
    connect(commandRuns_.get(), &CommandRunRows::changed, this, [this] {
        published_->setAgentRows(commandRuns_->withCommandRows(published_->agentRows()));
        republishForCommandRuns();
    });
    connect(commandRuns_.get(), &CommandRunRows::runsGone, this, &AppModel::keptAwakeChanged);
    // The statistics pane reads the figures afresh when it opens.
    connect(statistics_.get(), &UsageStatistics::shownFiguresChanged, this, [this] {
        if (environment_.windows->isSettingsWindowOpen()) {
            emit metricsChanged();
        }
    });
}

// MARK: - Detection

bool AppModel::detectionInFlight() const {
    return detection_->inFlight();
}

bool AppModel::awaitsFirstEvaluation() const {
    return !firstRun_->needsLegalAcceptance() && !lastInputs_ && detection_->inFlight();
}

void AppModel::finishDetectionPass(const std::optional<DetectionInputs>& inputs,
                                   std::optional<bool> trusted) {
    if (trusted) {
        assignIfChanged(accessibilityTrusted_, *trusted,
                        [this] { emit accessibilityTrustedChanged(); });
    }
    // A pass that ends after the quit began decides nothing: the sleep switch may be restored
    // already, and a decision would take it again.
    if (!inputs || terminated_) {
        return;
    }
    lastInputs_ = *inputs;
    postponeTickTimer();
    if (tickDuties()) {
        evaluateAndApply(inputs->power, inputs->lid, inputs->perApp, true);
    }
}

// MARK: - Timed keep-awake

void AppModel::keepAwakeFor(double seconds) {
    // Started before the change, whose tick must see the new end.
    const std::optional<AppMode> after = timedKeepAwake_->start(now(), seconds, mode_);
    if (!after) {
        return;
    }
    changeMode(AppMode::manualKeepAwake);
    // Saved after the change, which saves manual mode: a quit before the end must not leave
    // the computer kept awake for good at the next start.
    SettingsStore::saveMode(defaults(), *after);
}

// MARK: - Launch at login and the first run

void AppModel::reconcileLaunchAtLogin() {
    launchAtLogin_->reconcile(settings_.launchAtLoginEnabled, [this](const char* error) {
        if (notifier_) {
            notifier_->launchAtLoginFailed(error, settings_);
        }
    });
}

void AppModel::setLaunchAtLogin(bool enabled) {
    launchAtLogin_->set(enabled, [this](bool nowEnabled) {
        GuardSettings updated = settings_;
        updated.launchAtLoginEnabled = nowEnabled;
        commitSettings(updated);
    });
}

void AppModel::acceptLegal() {
    firstRun_->acceptLegal();
    tick();
}

void AppModel::openSettingsWindow(std::optional<SettingsTab> tab) {
    if (tab) {
        setSelectedSettingsTab(*tab);
    }
    environment_.windows->presentSettingsWindow(selectedSettingsTab_);
}

void AppModel::requestAccessibilityPermission() {
    environment_.accessibility->requestPermissionPrompt();
    environment_.windows->openSystemSettingsPane(SystemSettingsPane::accessibility);
    refreshAccessibilityTrust();
}

void AppModel::refreshAccessibilityTrust() {
    assignIfChanged(accessibilityTrusted_, environment_.accessibility->isTrusted(),
                    [this] { emit accessibilityTrustedChanged(); });
}

} // namespace nodwarden::app
