#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nodwarden {

/// One row of the process table.
struct ProcessSnapshot {
    std::int32_t pid = 0;
    std::int32_t parentPID = 0;
    /// The table's CPU percentage; may exceed 100 for a process with several busy threads.
    double cpuPercent = 0;
    /// The executable as the table gives it, normally its full path.
    std::string command;
    /// The full argument line, beginning with the program name; empty when unknown.
    std::string arguments;

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
};

} // namespace nodwarden
