#pragma once

#include <NodwardenCore/Export.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// What procfs tells about one process: enough to recognise a program this application started,
/// after a crash, without trusting a command name anyone can choose.
struct ProcessIdentity {
    /// The executable file (procfs's " (deleted)" mark removed: an upgrade may have replaced it).
    std::filesystem::path executable;
    /// The argument vector, beginning with the program name.
    std::vector<std::string> arguments;
    /// When the process started, in seconds since the Unix epoch; none when it cannot be told.
    std::optional<double> startedAtUnixSeconds;

    /// True when the process runs `program`: its executable is that file, or it is that script,
    /// which the kernel starts as the interpreter named on its "#!" line with the script's path as
    /// the first or (after an interpreter option) second argument. Another program given the
    /// script's path as an argument does not run it.
    bool runs(const std::filesystem::path& program) const;
};

/// Reads process `pid` below `processRoot` (a procfs mount); none when it does not exist or its
/// executable cannot be read (another user's process, or one that just ended).
std::optional<ProcessIdentity> readProcessIdentity(const std::filesystem::path& processRoot,
                                                   std::int32_t pid);

} // namespace nodwarden
