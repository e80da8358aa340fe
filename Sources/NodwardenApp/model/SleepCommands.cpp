#include <NodwardenApp/model/SleepCommands.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/QueuedDelivery.hpp>
#include <NodwardenApp/model/SleepControlling.hpp>
#include <NodwardenCore/model/AgentStateMachine.hpp>
#include <NodwardenCore/sleep/SleepLogWording.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <QCoreApplication>

#include <exception>
#include <utility>

namespace nodwarden::app {

using detail::assignIfChanged;
using detail::runThenDeliver;

namespace {

struct LaunchRepair {
    bool cleared = true;
    bool stuckOn = false;
};

} // namespace

void SleepCommands::follow(const GuardDecision& decision, bool hold, const GuardSettings& settings,
                           std::string why, Date now) {
    why_ = std::move(why);
    if (decision.shouldSleepNow) {
        if (!sleepRequested_) {
            requestSleepNow();
        }
        return;
    }
    sleepRequested_ = false;
    // The controller counts as holding the machine while either its keep-awake child or the
    // system sleep switch is in force, so a switch left engaged after the child died is still
    // released.
    const bool lidClosedOn = controller_.isLidClosedProtectionEngaged();
    const bool holding = controller_.isSleepPreventionEnabled() || lidClosedOn;
    if (hold) {
        releasePendingSince_.reset();
        const bool lidClosedMissing =
            settings.keepAwakeWithLidClosed && !lidClosedDeclined_ && !lidClosedOn;
        const auto appliedDiffers = [&] {
            const std::optional<bool> applied = controller_.appliedLetDisplaySleep();
            const std::optional<std::string> appliedWhy = controller_.appliedKeepAwakeReason();
            return !applied || *applied != settings.letDisplaySleep ||
                   (appliedWhy && *appliedWhy != why_);
        };
        if (!holding || lidClosedMissing || appliedDiffers()) {
            run(true, settings, why_);
        }
    } else if (holding) {
        const auto plan = SleepReleasePolicy::planRelease(
            decision.status, lidClosedOn, releasePendingSince_, now, lidClosedReleaseDelaySeconds);
        if (plan.kind() == SleepReleasePolicy::Plan::Kind::releaseNow) {
            releasePendingSince_.reset();
            run(false, settings, why_);
        } else {
            releasePendingSince_ = plan.pendingSince();
        }
    } else {
        releasePendingSince_.reset();
    }
}

void SleepCommands::requestSleepNow() {
    sleepRequested_ = runSleepNow();
}

SleepCommands::SleepCommands(SleepControlling& controller, FileLogger& logger,
                             const SleepLogWording& wording, std::function<Date()> clock,
                             std::function<const GuardSettings&()> settings, QObject* parent)
    : QObject(parent), controller_(controller), logger_(logger), wording_(wording),
      clock_(std::move(clock)), settings_(std::move(settings)),
      queue_(std::make_unique<SerialQueue>("Nodwarden.SleepCommands")) {}

SleepCommands::~SleepCommands() {
    queue_.reset();
}

void SleepCommands::log(const std::string& message) const {
    logger_.log(message);
}

void SleepCommands::queueLaunchRepair() {
    SleepControlling* sleep = &controller_;
    FileLogger* logger = &logger_;
    runThenDeliver(
        *queue_, *this,
        [sleep] {
            sleep->reconcileOrphanedKeepAwakeChildren();
            LaunchRepair repair;
            repair.cleared = sleep->reconcileStuckSleepSwitch();
            repair.stuckOn = sleep->isSystemSleepDisabled();
            return repair;
        },
        [logger](const std::exception& error) {
            logger->log(std::string("Launch reconcile failed: ") + error.what());
            return LaunchRepair{.cleared = false, .stuckOn = false};
        },
        [](SleepCommands& commands, LaunchRepair repair) {
            if (!repair.cleared) {
                commands.setStaleSleepBlockDetected(true);
                commands.log(commands.wording_[SleepLogLine::launchRepairUnconfirmed]);
            }
            if (repair.stuckOn) {
                if (commands.settings_().keepAwakeWithLidClosed) {
                    commands.controller_.adoptSleepSwitchEngaged();
                    commands.log(commands.wording_[SleepLogLine::adoptedAtLaunch]);
                } else {
                    commands.setStaleSleepBlockDetected(true);
                    commands.log(commands.wording_[SleepLogLine::surfacedAtLaunch]);
                }
            }
        });
}

void SleepCommands::run(bool enabled, const GuardSettings& settings, const std::string& why) {
    if (inFlight_) {
        return;
    }
    const bool allowLidClosed = enabled && settings.keepAwakeWithLidClosed && !lidClosedDeclined_;
    const bool letDisplaySleep = settings.letDisplaySleep;
    inFlightSince_ = clock_();
    setInFlight(true);

    SleepControlling* sleep = &controller_;
    FileLogger* logger = &logger_;
    runThenDeliver(
        *queue_, *this,
        [sleep, enabled, allowLidClosed, letDisplaySleep, why] {
            sleep->setKeepAwakeReason(why);
            return sleep->setSleepPrevention(enabled, allowLidClosed, letDisplaySleep);
        },
        [logger, enabled, allowLidClosed](const std::exception& error) {
            logger->log(std::string("Sleep command failed: ") + error.what());
            // A failed release cannot have confirmed the switch back on; a failed lid-closed
            // request counts as declined, so it is not retried with a prompt on every tick.
            return enabled && !allowLidClosed;
        },
        [enabled](SleepCommands& commands, bool ok) { commands.finishCommand(enabled, ok); });
}

void SleepCommands::finishCommand(bool enabled, bool ok) {
    publishControllerState();
    inFlightSince_.reset();
    setInFlight(false);
    if (enabled && !ok) {
        setLidClosedDeclined(true);
        log("Lid-closed admin prompt declined — showing downgrade warning");
        emit lidClosedRefused();
    }
    if (!enabled && !ok) {
        setStaleSleepBlockDetected(true);
        log(wording_[SleepLogLine::releaseUnconfirmed]);
    }
}

bool SleepCommands::runSleepNow() {
    if (inFlight_) {
        return false;
    }
    inFlightSince_ = clock_();
    setInFlight(true);

    SleepControlling* sleep = &controller_;
    FileLogger* logger = &logger_;
    runThenDeliver(
        *queue_, *this,
        [sleep] {
            const bool ok = sleep->restoreNormalSleep();
            sleep->sleepNow();
            return ok;
        },
        [logger](const std::exception& error) {
            logger->log(std::string("Sleep-now sequence failed: ") + error.what());
            return false;
        },
        [](SleepCommands& commands, bool ok) { commands.finishSleepNow(ok); });
    return true;
}

void SleepCommands::finishSleepNow(bool ok) {
    publishControllerState();
    inFlightSince_.reset();
    setInFlight(false);
    if (!ok) {
        setStaleSleepBlockDetected(true);
        log(wording_[SleepLogLine::sleepNowUnconfirmed]);
    }
}

void SleepCommands::publishControllerState() {
    const bool enabled = controller_.isSleepPreventionEnabled();
    if (enabled != sleepPreventionEnabled_) {
        sleepPreventionEnabled_ = enabled;
        assignIfChanged(guardingSince_, enabled ? std::optional<Date>(clock_()) : std::nullopt,
                        [this] { emit guardingSinceChanged(); });
        emit sleepPreventionEnabledChanged();
    }
    assignIfChanged(lidClosedProtectionEngaged_, controller_.isLidClosedProtectionEngaged(),
                    [this] { emit lidClosedProtectionEngagedChanged(); });
}

void SleepCommands::emergencyRestore() {
    queueRestore("Emergency restore failed: ", [](SleepControlling& sleep) {
        if (sleep.isSystemSleepDisabled()) {
            sleep.emergencyRestore();
        } else {
            sleep.restoreNormalSleep();
        }
    });
}

void SleepCommands::restoreStaleBlock() {
    log(wording_[SleepLogLine::restoringStaleSwitch]);
    queueRestore("Stale-block restore failed: ",
                 [](SleepControlling& sleep) { sleep.emergencyRestore(); });
}

void SleepCommands::queueRestore(std::string failurePrefix,
                                 std::function<void(SleepControlling&)> restore) {
    SleepControlling* sleep = &controller_;
    FileLogger* logger = &logger_;
    runThenDeliver(
        *queue_, *this,
        [sleep, restore = std::move(restore)] {
            restore(*sleep);
            return sleep->isSystemSleepDisabled();
        },
        // The banner follows what the switch reads afterwards, whatever the restore reported.
        [logger, failurePrefix = std::move(failurePrefix)](const std::exception& error) {
            logger->log(failurePrefix + error.what());
            return true;
        },
        [](SleepCommands& commands, bool stillOff) {
            commands.publishControllerState();
            commands.setStaleSleepBlockDetected(stillOff);
        });
}

void SleepCommands::lidClosedSwitchedOn(const GuardSettings& settings, const std::string& why) {
    setLidClosedDeclined(false);
    if (sleepPreventionEnabled_ && !lidClosedProtectionEngaged_) {
        run(true, settings, why);
    }
}

void SleepCommands::checkWatchdog(Date now) {
    // A start in the future means the clock stepped back; counting from now keeps the watchdog
    // at its delay instead of stretching it by the size of the step.
    if (inFlightSince_ && *inFlightSince_ > now) {
        inFlightSince_ = now;
    }
    if (inFlight_ && inFlightSince_ && now - *inFlightSince_ > watchdogSeconds) {
        const auto elapsed = static_cast<long long>(now - *inFlightSince_);
        log("WATCHDOG: sleep command in flight for " + std::to_string(elapsed) +
            "s — sleep queue looks wedged; resetting the in-flight guard so keep-awake commands "
            "are no longer dropped");
        inFlightSince_.reset();
        setInFlight(false);
    }
}

void SleepCommands::restoreAtQuit() {
    try {
        controller_.restoreNormalSleep();
    } catch (const std::exception& error) {
        log(std::string("Restore at quit failed: ") + error.what());
    }
}

void SleepCommands::waitForCommands() {
    queue_->drain();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void SleepCommands::setInFlight(bool inFlight) {
    assignIfChanged(inFlight_, inFlight, [this] { emit inFlightChanged(); });
}

void SleepCommands::setStaleSleepBlockDetected(bool detected) {
    assignIfChanged(staleSleepBlockDetected_, detected,
                    [this] { emit staleSleepBlockDetectedChanged(); });
}

void SleepCommands::setLidClosedDeclined(bool declined) {
    assignIfChanged(lidClosedDeclined_, declined, [this] { emit lidClosedDeclinedChanged(); });
}

} // namespace nodwarden::app
