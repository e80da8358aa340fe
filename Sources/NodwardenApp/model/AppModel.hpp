#pragma once

#include <NodwardenApp/model/AppEnvironment.hpp>
#include <NodwardenApp/model/DebugSimulation.hpp>
#include <NodwardenApp/model/DetectionScheduler.hpp>
#include <NodwardenApp/model/FirstRunFlow.hpp>
#include <NodwardenApp/model/LaunchAtLogin.hpp>
#include <NodwardenApp/model/PublishedStatus.hpp>
#include <NodwardenApp/model/SettingsTab.hpp>
#include <NodwardenApp/model/SleepCommands.hpp>
#include <NodwardenApp/model/TimedKeepAwake.hpp>
#include <NodwardenApp/model/UsageStatistics.hpp>
#include <NodwardenApp/model/WindowPresenter.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/AgentStateMachine.hpp>
#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;

namespace nodwarden::app {

class CommandRunRows;
class WaitingNotice;
class WorkNotifier;

/// The program's controller, a façade over the parts that own their state (`PublishedStatus`,
/// `DetectionScheduler`, `SleepCommands`, `UsageStatistics`, `TimedKeepAwake`, `CommandRunRows`,
/// `LaunchAtLogin`, `FirstRunFlow`, the notices). Lives on the main thread from launch to quit and
/// owns the tick and the decision step. Views read its and its parts' properties, redraw on their
/// change signals (each emitted only on a real change) and call its actions; they never compute
/// policy.
class AppModel : public QObject {
    Q_OBJECT

public:
    /// The status reason while the terms wait for acceptance.
    static constexpr const char* legalPendingReason =
        QT_TR_NOOP("Accept the Terms & Privacy Policy to enable keep-awake.");

    /// Loads mode, settings and statistics and installs the resolver's unmatched-host report;
    /// starts nothing (see `start`).
    explicit AppModel(AppEnvironment environment, QObject* parent = nullptr);
    /// Finishes the sleep commands and statistics writes already queued; a detection pass still
    /// running gets a short while and is then left behind.
    ~AppModel() override;
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // MARK: Observable state

    AppMode mode() const { return mode_; }
    const GuardSettings& settings() const { return settings_; }
    SettingsTab selectedSettingsTab() const { return selectedSettingsTab_; }
    /// The decision state as last published: status, reason, power, lid, rows, warnings.
    const PublishedStatus& published() const { return *published_; }
    /// Whether any lock of ours holds the machine: the program's own or a `stayloom run`'s.
    bool isKeptAwake() const;
    /// When the idle grace runs out, fixed for the grace (views count down on their own clock).
    std::optional<Date> graceEndsAt() const;
    /// The model's clock: what its decisions and countdowns count from.
    Date currentTime() const { return now(); }
    bool accessibilityTrusted() const { return accessibilityTrusted_; }
    /// The first pass since the terms were accepted is under way (the status still speaks of them).
    bool awaitsFirstEvaluation() const;

    /// The statistics account; `metricsChanged` announces changes only while the settings are open.
    const UsageMetrics& metrics() const { return statistics_->metrics(); }
    /// The per-agent signals of the latest evaluation, after the simulation merge.
    const std::vector<ActivitySignal>& lastPerApp() const { return lastMergedPerApp_; }
    /// The published texts in the program's own English whatever the user's language: what
    /// scripts read (`status --json`).
    PublishedStatus::Texts sourceTexts() const;
    /// This platform's wording of the texts that name the machine.
    const PlatformWording& wording() const { return *environment_.wording; }
    /// Connecting agents through their hooks; null where the platform offers none.
    AgentHookConnecting* agentHooks() const { return environment_.agentHooks; }
    /// The desktop's other ids for a catalog application.
    std::vector<std::string> desktopApplicationIDs(const std::string& bundleID) const;

    // MARK: The parts whose own state and signals the faces read

    /// Keep-awake as carried out: whether it holds, since when, the lid-closed protection, the
    /// stale sleep block, a command in flight.
    const SleepCommands& sleepCommands() const { return *sleep_; }
    const TimedKeepAwake& timedKeepAwake() const { return *timedKeepAwake_; }
    /// Why launch at login is not (yet) active, when it is not.
    const LaunchAtLogin& launchAtLogin() const { return *launchAtLogin_; }
    /// Whether the terms wait for acceptance.
    const FirstRunFlow& firstRun() const { return *firstRun_; }

    // MARK: Lifecycle

    /// Idempotent start-up: first-run windows, login item, updater, launch repair, then the ticks.
    Q_INVOKABLE void start();
    /// One pass of the loop; also run at once after user actions.
    Q_INVOKABLE void tick();
    /// Saves the statistics and restores normal sleep when the settings say so; runs once.
    Q_INVOKABLE void applicationWillTerminate();
    /// Ends the program through the same path as the platform's quit.
    Q_INVOKABLE void quit();
    /// The user interface calls this for every one of the model's windows that closes.
    void windowWillClose(AppWindow window);

    // MARK: Mode, settings and statistics

    /// Stores the mode, resets the decision state, re-evaluates; ends a timed keep-awake.
    void setMode(AppMode mode);
    /// A change from the interface: stored, lid-closed protection engaged if just switched on,
    /// re-evaluated.
    void commitSettings(const GuardSettings& settings);
    void setSelectedSettingsTab(SettingsTab tab);
    /// A fresh account with the old install date, saved at once; the run ledger is kept.
    Q_INVOKABLE void resetMetrics();

    // MARK: Keep-awake and sleep

    /// Manual mode for `seconds`, then back to the mode before (the one saved meanwhile); a
    /// second one starts the time again.
    Q_INVOKABLE void keepAwakeFor(double seconds);
    /// The panel's emergency action: mode off, keep-awake stopped, the sleep switch restored.
    Q_INVOKABLE void emergencyRestore();
    /// The stale-block warning's action: restore a sleep switch left off by an earlier run.
    Q_INVOKABLE void restoreStaleSleepBlock();
    /// A `stayloom run` command's row, until it ends; only its name is kept, never its arguments.
    void commandRunStarted(std::int32_t pid, const std::string& name);
    void commandRunEnded(std::int32_t pid);

    // MARK: Login item, first-run windows, Accessibility

    /// Registers or unregisters the login item and stores the outcome in the settings.
    Q_INVOKABLE void setLaunchAtLogin(bool enabled);
    /// Records acceptance of the current terms, closes their window and starts detection.
    Q_INVOKABLE void acceptLegal();
    /// Opens (or brings forward) the settings window, selecting `tab` when one is given.
    void openSettingsWindow(std::optional<SettingsTab> tab = std::nullopt);
    /// Shows the platform's permission prompt and its settings pane.
    Q_INVOKABLE void requestAccessibilityPermission();

    // MARK: For tests and the end-to-end harness

    /// Stores and saves the settings; nothing else.
    void setSettings(const GuardSettings& settings);
    /// Turns one set of gathered inputs into a decision, publishes it and carries it out.
    void evaluateAndApply(const PowerSnapshot& power, LidState lid,
                          const std::vector<ActivitySignal>& perApp, bool processPresenceCurrent);
    /// Registers the login item at launch when the setting wants it and it is not enabled.
    void reconcileLaunchAtLogin();
    void refreshAccessibilityTrust();
    /// Waits for the jobs queued so far on the background queues and delivers their results.
    void waitForBackgroundWork();
    /// Whether a detection pass is queued or running.
    bool detectionInFlight() const;
    SleepCommands& sleepCommands() { return *sleep_; }
    const UsageStatistics& statistics() const { return *statistics_; }

signals:
    void modeChanged();
    void settingsChanged();
    void selectedSettingsTabChanged();
    void accessibilityTrustedChanged();
    /// `isKeptAwake` may have changed: keep-awake went on or off, or a `stayloom run` came or
    /// went.
    void keptAwakeChanged();
    /// The statistics changed in a way the statistics pane shows (only while it is open).
    void metricsChanged();
    /// A decision was worked out (every tick and every pass), whether or not anything changed.
    void evaluated();

private:
    Date now() const;
    /// A tick's steps before deciding; false when it ends there (a timed keep-awake's end ticked).
    bool tickDuties();
    /// Each pass's result ticks in the timer's stead.
    void postponeTickTimer();
    /// Publishes the run's headline at once, without waiting for the next tick.
    void republishForCommandRuns();
    void refreshKeepAwakeLocks();
    void log(const std::string& message) const;
    void requireServices() const;

    void changeMode(AppMode mode);
    /// A button of one of the model's notices was pressed (`WorkNotifier`'s action keys).
    void noticeActionPressed(const std::string& key);
    /// The work-done notice's "Sleep now": the grace ends and the computer sleeps at once.
    void sleepNow();
    void connectParts();
    void finishDetectionPass(const std::optional<DetectionInputs>& inputs,
                             std::optional<bool> trusted);

    void apply(const GuardDecision& decision, LidState lid, const ActivitySignal& signal,
               std::optional<bool> sessionProcessAlive);
    void publishDecision(const GuardDecision& decision, const PowerSnapshot& power, LidState lid,
                         const ActivitySignal& signal, const std::vector<ActivitySignal>& merged);
    void publishAccessibilityWarning(const std::vector<ActivitySignal>& merged);
    /// Makes the signals the decisions see `perApp` plus any simulated one; whether they changed.
    bool mergeSignals(const std::vector<ActivitySignal>& perApp);
    double largestIdleGrace() const;

    FileLogger& logger() const { return *environment_.logger; }
    QSettings& defaults() const { return *environment_.defaults; }
    SleepControlling& controller() const { return *environment_.sleepController; }

    AppEnvironment environment_;

    AppMode mode_ = AppMode::off;
    GuardSettings settings_ = GuardSettings::defaults();
    SettingsTab selectedSettingsTab_ = SettingsTab::general;
    bool accessibilityTrusted_ = false;
    std::vector<ActivitySignal> lastMergedPerApp_;

    AgentStateMachine stateMachine_;
    QTimer* timer_ = nullptr;
    DebugSimulation simulation_;
    /// Fed every applied decision; none without a notification service.
    std::unique_ptr<WorkNotifier> notifier_;
    std::unique_ptr<WaitingNotice> waitingNotice_;
    std::optional<DetectionInputs> lastInputs_;
    bool terminated_ = false;

    std::unique_ptr<PublishedStatus> published_;
    std::unique_ptr<SleepCommands> sleep_;
    std::unique_ptr<DetectionScheduler> detection_;
    std::unique_ptr<CommandRunRows> commandRuns_;
    std::unique_ptr<TimedKeepAwake> timedKeepAwake_;
    std::unique_ptr<LaunchAtLogin> launchAtLogin_;
    std::unique_ptr<FirstRunFlow> firstRun_;
    std::unique_ptr<UsageStatistics> statistics_;

public:
#if defined(STAYLOOM_DEBUG_SIMULATOR)
    // A made-up agent to drive the decisions by hand, for developers: debug builds only.
    /// Developer action: report active work from "Debug Simulator" for at least 30 seconds.
    void simulateActive();
    /// Developer action: end the simulation and mark the work finished.
    void simulateFinished();
#endif
};

} // namespace nodwarden::app
