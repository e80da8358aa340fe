#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class FileLogger;

/// Reads the process table with two "/bin/ps" listings: one of ids, parents, CPU and
/// executables, then one of argument lines. A failing first listing is logged and gives an empty
/// table; a failing second listing leaves every row's arguments empty.
class PSProcessTableReader final : public ProcessTableReading {
public:
    PSProcessTableReader(CommandRunning& runner, FileLogger& logger);

    std::vector<ProcessSnapshot> readProcessTable() override;

    /// "/bin/ps" "-axo" "pid=,ppid=,pcpu=,comm=".
    static ShellCommand processListing();
    /// "/bin/ps" "-axo" "pid=,args=".
    static ShellCommand argumentListing();

private:
    CommandRunning& runner_;
    FileLogger& logger_;
};

} // namespace nodwarden
