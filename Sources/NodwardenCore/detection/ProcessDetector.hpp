#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class CommandRunning;
class DetectionPass;
class FileLogger;

/// Finds the processes of watched agents (and of the user's target applications) in the
/// process table and makes one signal per agent: `strong` when a CPU-trusted agent's whole
/// process tree reaches the work threshold, otherwise `presence`, with the number of
/// independent copies running as the session count.
class ProcessDetector {
public:
    /// The time-out, in seconds, of the runner the application gives the process listings.
    static constexpr double busyMacTimeout = 20.0;

    /// Detects on the tables `table` reads.
    explicit ProcessDetector(std::shared_ptr<ProcessTableReading> table);
    /// Detects on "/bin/ps" listings run through `runner`; a failing listing is logged to `logger`.
    ProcessDetector(CommandRunning& runner, FileLogger& logger);

    /// One signal per agent found in the table read now, in no particular order.
    std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings,
                                             const std::optional<PowerSnapshot>& power) const;

    /// One signal per agent found in `processes`, in no particular order.
    std::vector<ActivitySignal> detectPerApp(const std::vector<ProcessSnapshot>& processes,
                                             const GuardSettings& settings,
                                             const std::optional<PowerSnapshot>& power) const;
    /// One signal per agent found in the pass's table, from the rows as the pass resolved them.
    std::vector<ActivitySignal> detectPerApp(const DetectionPass& pass,
                                             const std::optional<PowerSnapshot>& power) const;

    /// The process table now; empty when it cannot be read.
    std::vector<ProcessSnapshot> liveSnapshot() const;

    /// Rows of "pid ppid pcpu command" lines; malformed lines are skipped. Arguments are empty.
    static std::vector<ProcessSnapshot> parsePSOutput(std::string_view text);
    /// Argument lines by process id from "pid args" lines; a later line for an id wins.
    static std::map<std::int32_t, std::string> parsePSArgs(std::string_view text);

private:
    std::shared_ptr<ProcessTableReading> table_;
};

} // namespace nodwarden
