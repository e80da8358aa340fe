#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// One row of the process table.
struct ProcessSnapshot {
    ProcessSnapshot() = default;
    ProcessSnapshot(std::int32_t pid_, std::int32_t parentPID_, double cpuPercent_,
                    std::string command_, std::string arguments_,
                    std::optional<std::uint64_t> startTime_ = std::nullopt,
                    std::optional<Date> startedAt_ = std::nullopt)
        : pid(pid_), parentPID(parentPID_), cpuPercent(cpuPercent_), command(std::move(command_)),
          arguments(std::move(arguments_)), startTime(startTime_), startedAt(startedAt_) {}

    std::int32_t pid = 0;
    std::int32_t parentPID = 0;
    /// The table's CPU percentage; may exceed 100 for a process with several busy threads.
    double cpuPercent = 0;
    /// The executable as the table gives it, normally its full path.
    std::string command;
    /// The full argument line, beginning with the program name; empty when unknown.
    std::string arguments;
    /// The start time in the platform's clock ticks since boot, where the table gives it; with
    /// the pid it names one process even after the pid is reused.
    std::optional<std::uint64_t> startTime;
    /// When the process started, where the table gives it.
    std::optional<Date> startedAt;
    /// The user the process runs as, where the table gives it. Screens are read only for our own
    /// user's processes.
    std::optional<std::uint32_t> ownerUID;

    /// The last path component of `command`.
    std::string displayName() const;

    bool operator==(const ProcessSnapshot&) const = default;
};

/// Reads the system's process table. Each platform supplies one; a reading that fails is logged
/// by the reader and comes back empty.
class ProcessTableReading {
public:
    virtual ~ProcessTableReading() = default;

    /// The process table as it is now.
    virtual std::vector<ProcessSnapshot> readProcessTable() = 0;

    /// The processes the caller follows after the next reading: those whose CPU share it adds up
    /// (the agents' trees) and the agents' own processes, whose end must show at once. A reader
    /// may measure only these afresh, and processes it has not seen before; the others keep the
    /// share they last showed. By default every process is measured.
    virtual void focusOn(const std::vector<std::int32_t>& pids) { (void)pids; }
};

} // namespace nodwarden
