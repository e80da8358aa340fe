#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/sleep/KeepAwakeProcess.hpp>
#include <NodwardenCore/sleep/SleepCommandSet.hpp>
#include <NodwardenCore/sleep/SleepLogWording.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class CommandRunning;
class FileLogger;

/// The system sleep switch as the power settings listing reports it: sleep disabled (the listing's
/// "SleepDisabled 1", what the log calls the switch turned off) or enabled, or not known.
enum class SleepSwitchState { sleepDisabled, sleepEnabled, unknown };

/// The two files that let a later run repair what this one left behind.
struct SleepControllerFiles {
    /// One keep-awake child identifier per line, newest first.
    std::filesystem::path pidFilePath;
    /// Exists while the system sleep switch is, or may still be, off because of this program.
    std::filesystem::path engagedMarkerPath;

    /// The current user's files at the platform's usual places.
    static SleepControllerFiles standard();

    bool operator==(const SleepControllerFiles&) const = default;
};

/// Holds the machine awake through one long-lived keep-awake child, switches the system sleep
/// switch for lid-closed operation, and repairs both after a run that ended without cleaning up.
///
/// State-changing operations are meant for one serial queue; the getters may be called from any
/// thread. The lock is held only while fields are read or written, never across a command, a
/// launch, a signal or a wait.
class SleepController {
public:
    SleepController(CommandRunning& runner, CommandRunning& adminRunner, FileLogger& logger,
                    std::string keepAwakePath,
                    SleepControllerFiles files = SleepControllerFiles::standard(),
                    SleepCommandSet commands = SleepCommandSet::macOS(),
                    ProcessControl processControl = {}, KeepAwakeContract keepAwake = {},
                    const SleepLogWording& wording = SleepLogWording::macOS());
    /// Stops the keep-awake child as `restoreNormalSleep` would, without touching the switch.
    ~SleepController();
    SleepController(const SleepController&) = delete;
    SleepController& operator=(const SleepController&) = delete;

    // Keep-awake child.

    bool isSleepPreventionEnabled() const;
    /// The posture of the running child; none when there is no child or it has exited.
    std::optional<bool> appliedLetDisplaySleep() const;
    /// What the hold is for, as logind and the desktop list it ("Claude Code is working"); a
    /// child already holding is replaced by one with the new reason at the next request to hold,
    /// the new one holding before the old one goes. Empty: the program's own wording.
    void setKeepAwakeReason(std::string why);
    /// The reason of the running child; none when there is no running child.
    std::optional<std::string> appliedKeepAwakeReason() const;
    /// Starts or stops the hold; false only when engaging or restoring the sleep switch failed.
    bool setSleepPrevention(bool enabled, bool allowLidClosed, bool letDisplaySleep);
    bool enableSleepPrevention(bool allowLidClosed, bool letDisplaySleep);
    bool restoreNormalSleep();
    /// Launch-time clean-up: stops keep-awake children named in a pid file left by an earlier run,
    /// each only once it is known to run the keep-awake program.
    void reconcileOrphanedKeepAwakeChildren();

    static std::vector<std::string> keepAwakeArguments(bool letDisplaySleep);
    /// Decimal identifiers, one per line at any newline character; unparsable lines are skipped.
    static std::vector<std::int32_t> parseKeepAwakePIDs(std::string_view text);
    /// The pid file's identifiers, from its lines that are UTF-8; empty when it is absent,
    /// unreadable or not a regular file. Only its first 64 KiB are read.
    std::vector<std::int32_t> readKeepAwakePIDs() const;

    // Lid-closed protection and sleep commands.

    bool isLidClosedProtectionEngaged() const;
    /// Turns system sleep off (administrator prompt) unless this controller already did.
    bool engageLidClosedProtection();
    /// Turns system sleep back on, falling back to the direct command; true when restored.
    bool disengageSleepSwitch();
    /// Stops everything and restores the sleep switch even when nothing was engaged.
    void emergencyRestore();
    SleepSwitchState sleepSwitchState();
    bool isSystemSleepDisabled();
    /// True when the listing's "SleepDisabled" line ends in the field "1".
    static bool parseSleepDisabled(std::string_view text);
    /// Takes ownership of a sleep switch found off, so it is restored like one engaged here.
    void adoptSleepSwitchEngaged();
    /// Launch-time repair of a sleep switch an earlier run may have left off.
    bool reconcileStuckSleepSwitch();
    void sleepNow();

    const SleepControllerFiles& files() const { return files_; }

private:
    using Child = std::shared_ptr<KeepAwakeProcess>;

    bool startKeepAwakeChild(bool letDisplaySleep, const std::string& why);
    void stopKeepAwakeChild();
    /// SIGTERM, a bounded wait, then SIGKILL and a shorter one; true when the child exited.
    bool terminate(const Child& child);
    /// Keeps a child that did not confirm its exit, so it is still reaped and listed.
    void abandon(const Child& child);
    /// Records `leading` followed by every abandoned child still running, or removes the pid
    /// file when that list is empty.
    void recordKeepAwakePIDs(const std::vector<Child>& leading);
    void writeKeepAwakePIDs(const std::vector<std::int32_t>& identifiers);
    void removeKeepAwakePIDFile();
    void log(const std::string& message);
    /// Whether `identifier` from the pid file still names a keep-awake child of an earlier run.
    bool isOrphanedKeepAwakeChild(std::int32_t identifier);
    void writeEngagedMarker();
    void removeEngagedMarker();

    /// What the getters may read from other threads; read and written only with `lock_` held.
    struct Guarded {
        bool isSleepPreventionEnabled = false;
        bool sleepSwitchEngaged = false;
        Child keepAwakeChild;
        bool keepAwakeLetDisplaySleep = false;
        std::string keepAwakeChildReason;
        std::string keepAwakeReason;
        bool keepAwakeLaunchFailureLogged = false;
        /// Children that outlived SIGKILL; reaped as soon as they end, killed for good on
        /// destruction.
        std::vector<Child> abandonedChildren;
    };

    mutable std::mutex lock_;
    Guarded guarded_;
    CommandRunning& runner_;
    CommandRunning& adminRunner_;
    FileLogger& logger_;
    const std::string keepAwakePath_;
    const SleepControllerFiles files_;
    const SleepCommandSet commands_;
    const ProcessControl processControl_;
    const KeepAwakeContract keepAwake_;
    /// One of the platforms' tables, which live for the whole run.
    const SleepLogWording& wording_;
};

} // namespace nodwarden
