#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/Models.hpp>

#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class CommandRunning;
class FileLogger;
struct ShellCommand;

/// Reads the machine's power source and battery charge. Never fails: an unreadable state is a
/// neutral snapshot.
class PowerSnapshotProviding {
public:
    virtual ~PowerSnapshotProviding() = default;
    virtual PowerSnapshot snapshot() = 0;
};

/// Reads the lid position. Never fails: an unreadable state is `LidState::unknown`.
class LidStateProviding {
public:
    virtual ~LidStateProviding() = default;
    virtual LidState lid() = 0;
};

/// Power state from the power-management tool's battery listing.
class PowerMonitor final : public PowerSnapshotProviding {
public:
    /// `logger` receives the failure lines; the shared diagnostic log unless a test says otherwise.
    explicit PowerMonitor(CommandRunning& runner);
    PowerMonitor(CommandRunning& runner, FileLogger& logger);

    /// "/usr/bin/pmset" "-g" "batt".
    static const ShellCommand& command();

    /// On any tool failure logs "PowerMonitor failed: <error>" and returns not on mains power,
    /// no percentage, "Unable to read battery state".
    PowerSnapshot snapshot() override;

    /// Mains power when the text names "AC Power" (any case); the first 1-3 digit number directly
    /// before a "%" is the charge; the trimmed text is kept as `rawDescription`.
    static PowerSnapshot parsePMSetBatteryOutput(std::string_view text);

private:
    CommandRunning& runner_;
    FileLogger& logger_;
};

/// Lid position from the hardware registry's clamshell flag.
class LidStateDetector final : public LidStateProviding {
public:
    explicit LidStateDetector(CommandRunning& runner);
    LidStateDetector(CommandRunning& runner, FileLogger& logger);

    /// "/usr/sbin/ioreg" "-r" "-k" "AppleClamshellState" "-d" "1".
    static const ShellCommand& command();

    /// On any tool failure logs "LidStateDetector failed: <error>" and returns `unknown`.
    LidState lid() override;

    /// `closed` for AppleClamshellState = Yes, `open` for = No (any case), else `unknown`.
    static LidState parseIORegOutput(std::string_view text);

private:
    CommandRunning& runner_;
    FileLogger& logger_;
};

} // namespace nodwarden
