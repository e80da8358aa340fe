#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/CommandRunRows.hpp>
#include <NodwardenApp/model/KeepAwakeReason.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenApp/model/SleepControlling.hpp>
#include <NodwardenApp/model/SourceLanguage.hpp>
#include <NodwardenApp/model/WaitingNotice.hpp>
#include <NodwardenApp/model/WorkNotifier.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/Notices.hpp>

#include <algorithm>
#include <set>

namespace nodwarden::app {

using detail::qstring;

double AppModel::largestIdleGrace() const {
    return std::max(settings_.batteryProfile.idleGracePeriodSeconds,
                    settings_.pluggedInProfile.idleGracePeriodSeconds);
}

std::optional<Date> AppModel::graceEndsAt() const {
    const std::optional<Date> lastActive = stateMachine_.lastActiveSignalAt();
    if (published_->status() != GuardStatus::idleGrace || !lastActive) {
        return std::nullopt;
    }
    const GuardPowerProfile& profile =
        published_->isOnACPower() ? settings_.pluggedInProfile : settings_.batteryProfile;
    return *lastActive + profile.idleGracePeriodSeconds;
}

void AppModel::evaluateAndApply(const PowerSnapshot& power, LidState lid,
                                const std::vector<ActivitySignal>& perApp,
                                bool processPresenceCurrent) {
    const bool signalsChanged = mergeSignals(perApp);
    const std::vector<ActivitySignal>& merged = lastMergedPerApp_;
    const ActivitySignal signal = strongestSignal(merged);
    const bool preventing =
        controller().isSleepPreventionEnabled() || controller().isLidClosedProtectionEngaged();
    const ThermalState thermal =
        environment_.thermalState ? environment_.thermalState() : ThermalState::nominal;
    const GuardDecision decision =
        stateMachine_.evaluate(mode_, settings_, power, lid, signal, preventing, thermal, now());

    // Most ticks change nothing the panel shows: its rows and texts are not worked out again.
    if (signalsChanged ||
        !published_->isFrom(decision, power, lid, settings_, accessibilityTrusted_)) {
        publishDecision(decision, power, lid, signal, merged);
        publishAccessibilityWarning(merged);
        published_->setBasis(
            PublishedStatus::Basis{decision, power, lid, settings_, accessibilityTrusted_});
    }
    const std::optional<bool> sessionProcessAlive =
        statistics_->sessionAgentAlive(perApp, processPresenceCurrent);
    apply(decision, lid, signal, sessionProcessAlive);
    if (waitingNotice_) {
        waitingNotice_->observe(merged, settings_);
    }
    if (notifier_) {
        notifier_->observe(mode_, decision, power, settings_, now(),
                           statistics_->runWorkedSeconds(now()), graceEndsAt(),
                           waitingNotice_ && waitingNotice_->anyWaiting());
    }
    emit evaluated();
}

bool AppModel::mergeSignals(const std::vector<ActivitySignal>& perApp) {
    std::vector<ActivitySignal> merged = simulation_.mergedInto(perApp, now());
    if (lastMergedPerApp_ == merged) {
        return false;
    }
    lastMergedPerApp_ = std::move(merged);
    return true;
}

void AppModel::publishDecision(const GuardDecision& decision, const PowerSnapshot& power,
                               LidState lid, const ActivitySignal& signal,
                               const std::vector<ActivitySignal>& merged) {
    PublishedStatus& shown = *published_;
    shown.setStatus(commandRuns_->shownStatus(decision.status));
    shown.setDetectedAppName(qstring(decision.detectedAppName.value_or("None")));
    shown.setBatteryDescription(ReasonTexts::powerDescription(power, wording()));
    shown.setBatteryPercent(power.batteryPercent);
    shown.setIsOnACPower(power.isOnACPower);
    shown.setLidDescription(ReasonTexts::lidName(lid, wording()));
    shown.setIsBatteryWarning(decision.isBatteryWarning);
    shown.setLastSignalStrength(signal.strength);
    shown.setAgentRows(commandRuns_->withCommandRows(
        buildAgentRows(merged, decision.status, settings_, wording())));
}

PublishedStatus::Texts AppModel::sourceTexts() const {
    return inSourceLanguage([this] {
        PublishedStatus::Texts texts{published_->statusReasonInSourceLanguage(),
                                     tr("Battery unknown"),
                                     {},
                                     launchAtLogin_->messageInSourceLanguage()};
        if (const auto& basis = published_->basis()) {
            texts.batteryDescription = ReasonTexts::powerDescription(basis->power, wording());
            texts.agentRows = commandRuns_->rowsBefore(buildAgentRows(
                lastMergedPerApp_, basis->decision.status, basis->settings, wording()));
        } else {
            texts.agentRows = commandRuns_->rowsBefore({});
        }
        return texts;
    });
}

void AppModel::publishAccessibilityWarning(const std::vector<ActivitySignal>& merged) {
    std::set<std::string> runningNames;
    for (const ActivitySignal& signal : merged) {
        if (signal.appName) {
            runningNames.insert(*signal.appName);
        }
    }
    std::vector<AgentProfile> running;
    for (const AgentProfile& profile : AgentResolver::shared(settings_)->profiles) {
        if (runningNames.contains(profile.displayName)) {
            running.push_back(profile);
        }
    }
    published_->setAccessibilityWarning(
        ReasonTexts::accessibilityWarning(running, accessibilityTrusted_, wording()));
}

void AppModel::apply(const GuardDecision& decision, LidState lid, const ActivitySignal& signal,
                     std::optional<bool> sessionProcessAlive) {
    GuardDecision effective = decision;
    const std::optional<double> timedSeconds =
        mode_ == AppMode::manualKeepAwake ? timedKeepAwake_->seconds() : std::nullopt;
    const bool legalHolds = firstRun_->needsLegalAcceptance() && effective.shouldPreventSleep;
    if (legalHolds) {
        effective.shouldPreventSleep = false;
    }
    const auto reasonText = [&] {
        if (const auto runReason = commandRuns_->reason(decision.status)) {
            return *runReason;
        }
        if (legalHolds) {
            return tr(legalPendingReason);
        }
        if (timedSeconds) {
            // Manual mode's own reason says it holds until the mode changes; this one ends by
            // itself.
            return QString::fromStdString(keepAwakeReason(mode_, decision, timedSeconds));
        }
        return ReasonTexts::decision(decision, wording());
    };
    published_->setStatusReason(reasonText(), inSourceLanguage(reasonText));

    sleep_->follow(decision, effective.shouldPreventSleep, settings_,
                   keepAwakeReason(mode_, effective, timedSeconds), now());
    sleep_->publishControllerState();
    refreshKeepAwakeLocks();
    const GuardPowerProfile& profile =
        published_->isOnACPower() ? settings_.pluggedInProfile : settings_.batteryProfile;
    statistics_->record(effective, mode_, lid, signal, profile.idleGracePeriodSeconds,
                        sessionProcessAlive, now());
}

} // namespace nodwarden::app
