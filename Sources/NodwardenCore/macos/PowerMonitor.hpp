#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/PowerSnapshotProviding.hpp>

#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class CommandRunning;
class FileLogger;
struct ShellCommand;

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

} // namespace nodwarden
