#pragma once

#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/PowerState.hpp>
#include <NodwardenCore/sleep/KeepAwakeLocks.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace nodwarden {
class AccessibilityDetector;
class FileLogger;
class LidStateProviding;
class PowerSnapshotProviding;
} // namespace nodwarden

namespace nodwarden::app {

class AgentHookConnecting;
class LoginItemService;
class Notifying;
class SleepControlling;
class WindowPresenter;

/// Everything `AppModel` needs from the machine, picked once at start. Pointers are not owned:
/// each must stay valid for the model's whole life (put owned services into `keepAlive`, which the
/// model holds until it is destroyed). Tests hand in fakes for every service.
struct AppEnvironment {
    /// The current time; only the production clock reads the system time.
    std::function<Date()> clock;

    /// Read on the detection queue.
    PowerSnapshotProviding* power = nullptr;
    /// Read on the detection queue.
    LidStateProviding* lid = nullptr;
    /// One signal per agent, sorted by name; called on the detection queue, one call at a time.
    std::function<std::vector<ActivitySignal>(const GuardSettings&, const PowerSnapshot&, Date)>
        detectPerApp;
    /// The permission state and prompt; a detector of its own, separate from detection's.
    AccessibilityDetector* accessibility = nullptr;
    /// Read on the main thread at every evaluation.
    std::function<ThermalState()> thermalState;
    /// Whether a process of this id still exists: a `stayloom run` killed outright never says
    /// its command ended. None: a command's row stays until its end is told.
    std::function<bool(std::int32_t pid)> processExists;

    SleepControlling* sleepController = nullptr;
    /// What the keep-awake helpers report they hold; read on the main thread while the machine
    /// is kept awake. None: nothing is reported.
    std::function<KeepAwakeLocks()> keepAwakeLocks;
    LoginItemService* loginItems = nullptr;
    WindowPresenter* windows = nullptr;
    /// The desktop's notifications; none: nothing is announced.
    Notifying* notifier = nullptr;
    /// Connects agents through their own hook settings; none: the settings offer no connecting.
    AgentHookConnecting* agentHooks = nullptr;
    /// Other ids the desktop knows a catalog application by (on Linux its desktop entries'),
    /// where its icon is found; none: only the catalog's identifier.
    std::function<std::vector<std::string>(const std::string& bundleID)> desktopApplicationIDs;

    /// The user-defaults store: mode, settings, statistics, terms acceptance, first-run flag.
    QSettings* defaults = nullptr;
    /// The diagnostic log.
    FileLogger* logger = nullptr;
    /// The run ledger file; its folder is created on the first append.
    std::filesystem::path runLedgerPath;
    /// The statistics' own file; none: they stay in `defaults` (`MetricsStore`).
    std::optional<std::filesystem::path> statisticsPath;

    /// Starts the platform's own updater at start-up, logging what it did; none where the
    /// system's packages update the program (Linux), so nothing about an updater happens there.
    std::function<void()> startUpdater;

    /// The shown texts that name the machine and its ways; the platform picks them.
    const PlatformWording* wording = &PlatformWording::current();

    /// Seconds between ticks.
    double tickInterval = 3.0;
    /// Seconds from `start` to the first tick.
    double firstTickDelay = 0.75;

    /// Owned services that the pointers above refer to; released after the model's queues stop.
    std::vector<std::shared_ptr<void>> keepAlive;
    /// Owned services that only the detection pass reads (`power`, `lid`, `accessibility` and
    /// what `detectPerApp` uses). Every pass shares them, so a pass left running at quit never
    /// finds them freed; nothing here may need to end with the program (the sleep controller
    /// belongs in `keepAlive`).
    std::vector<std::shared_ptr<void>> detectionKeepAlive;
};

} // namespace nodwarden::app
