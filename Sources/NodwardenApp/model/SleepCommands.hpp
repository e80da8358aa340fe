#pragma once

#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace nodwarden {
class FileLogger;
class SerialQueue;
class SleepLogWording;
} // namespace nodwarden

namespace nodwarden::app {

class SleepControlling;

/// The model's side of sleep control: the "Nodwarden.SleepCommands" queue with its in-flight
/// guard and watchdog, the launch repair and the restores, and the state they leave behind
/// (keep-awake on and since when, lid-closed protection, a declined lid-closed step, a sleep
/// switch left off that nothing of this run owns). Lives on the main thread; every controller
/// call that changes something runs on its queue, except the restore at quit.
class SleepCommands : public QObject {
    Q_OBJECT

public:
    /// How long a command may run before the watchdog re-opens the guard.
    static constexpr double watchdogSeconds = 150;
    /// How long lid-closed protection is held after work stops.
    static constexpr double lidClosedReleaseDelaySeconds = 120;

    /// `controller`, `logger` and `wording` must outlive this; `settings` is read on the main
    /// thread when a launch repair's result arrives.
    SleepCommands(SleepControlling& controller, FileLogger& logger, const SleepLogWording& wording,
                  std::function<Date()> clock, std::function<const GuardSettings&()> settings,
                  QObject* parent = nullptr);
    /// Finishes the commands already queued (a command is never cut off half-way); their
    /// results are dropped.
    ~SleepCommands() override;
    SleepCommands(const SleepCommands&) = delete;
    SleepCommands& operator=(const SleepCommands&) = delete;

    bool sleepPreventionEnabled() const { return sleepPreventionEnabled_; }
    std::optional<Date> guardingSince() const { return guardingSince_; }
    bool lidClosedProtectionEngaged() const { return lidClosedProtectionEngaged_; }
    bool staleSleepBlockDetected() const { return staleSleepBlockDetected_; }
    bool inFlight() const { return inFlight_; }
    bool lidClosedDeclined() const { return lidClosedDeclined_; }

    /// Carries out `decision`, with `hold` whether the machine is held (the decision as the
    /// model's own rules leave it) and `why` what for. A one-shot sleep is asked for once; a
    /// hold is asked again when the display choice or the reason changed, or a lid-closed step
    /// dropped mid-command is missing (a declined one is not); lid-closed protection is let go
    /// `lidClosedReleaseDelaySeconds` after work stops.
    void follow(const GuardDecision& decision, bool hold, const GuardSettings& settings,
                std::string why, Date now);
    /// Sleep now, by the user's word: restores normal sleep, then asks the system to sleep;
    /// dropped (and asked again by the next decision to sleep) while a command runs.
    void requestSleepNow();
    /// The next decision to sleep asks again (the mode changed).
    void forgetSleepRequest() { sleepRequested_ = false; }
    /// What the hold is for, given to the keep-awake child with each request to hold.
    const std::string& why() const { return why_; }
    bool sleepRequested() const { return sleepRequested_; }
    std::optional<Date> lidClosedReleasePendingSince() const { return releasePendingSince_; }

    /// Stops an orphaned keep-awake child, then repairs, adopts or surfaces a sleep switch left
    /// off by an earlier run.
    void queueLaunchRepair();
    /// Turns keep-awake on or off; dropped while a command runs.
    void run(bool enabled, const GuardSettings& settings, const std::string& why);
    /// Restores normal sleep, then asks the system to sleep; false when dropped because a
    /// command runs.
    bool runSleepNow();
    /// Copies the controller's state into the properties.
    void publishControllerState();
    /// Restores the switch (prompting only when it reads off) and stops keep-awake.
    void emergencyRestore();
    /// Restores a sleep switch left off by an earlier run.
    void restoreStaleBlock();
    /// The lid-closed setting was just switched on: a declined step may be asked again, and a
    /// hold without the protection gets it at once.
    void lidClosedSwitchedOn(const GuardSettings& settings, const std::string& why);
    /// Re-opens the guard of a command that has run for longer than `watchdogSeconds`.
    void checkWatchdog(Date now);
    /// Restores normal sleep synchronously on the calling thread (at quit).
    void restoreAtQuit();
    /// Waits for the commands queued so far and hands their results over.
    void waitForCommands();

signals:
    void sleepPreventionEnabledChanged();
    void guardingSinceChanged();
    void lidClosedProtectionEngagedChanged();
    void staleSleepBlockDetectedChanged();
    void inFlightChanged();
    void lidClosedDeclinedChanged();
    /// The administrator step of lid-closed protection was refused or failed.
    void lidClosedRefused();

private:
    void queueRestore(std::string failurePrefix, std::function<void(SleepControlling&)> restore);
    void finishCommand(bool enabled, bool ok);
    void finishSleepNow(bool ok);
    void setInFlight(bool inFlight);
    void setStaleSleepBlockDetected(bool detected);
    void setLidClosedDeclined(bool declined);
    void log(const std::string& message) const;

    SleepControlling& controller_;
    FileLogger& logger_;
    const SleepLogWording& wording_;
    std::function<Date()> clock_;
    std::function<const GuardSettings&()> settings_;

    bool sleepPreventionEnabled_ = false;
    std::optional<Date> guardingSince_;
    bool lidClosedProtectionEngaged_ = false;
    bool staleSleepBlockDetected_ = false;
    bool inFlight_ = false;
    std::optional<Date> inFlightSince_;
    bool lidClosedDeclined_ = false;
    bool sleepRequested_ = false;
    std::string why_;
    std::optional<Date> releasePendingSince_;

    std::unique_ptr<SerialQueue> queue_;
};

} // namespace nodwarden::app
