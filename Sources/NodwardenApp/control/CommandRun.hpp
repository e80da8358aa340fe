#pragma once

#include <NodwardenApp/platform/HelperLocator.hpp>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden::app {

/// `stayloom run -- COMMAND…`: holds the computer awake with the keep-awake helper for as long
/// as the command runs, as `systemd-inhibit` does, whether a copy of the program runs or not.
/// A running copy is told the command's name (never its arguments) so it shows a row for it.
/// SIGTERM, SIGHUP and SIGINT sent to the run are passed to the command, and the hold lasts
/// until it ends; a run killed outright takes the command with it (SIGTERM to the command).
namespace CommandRun {

/// Exit statuses of the run itself, as `env` and `timeout` use them.
inline constexpr int holdFailedStatus = 125;
inline constexpr int notExecutableStatus = 126;
inline constexpr int notFoundStatus = 127;

/// Runs `command` (a program looked up in PATH, then its arguments) with this process's
/// environment and standard streams; the command's exit status, or 128 + the signal that ended
/// it.
int run(const std::vector<std::string>& command, const HelperSearchPath& helpers,
        const std::optional<std::filesystem::path>& socketPath, std::FILE* errors);

} // namespace CommandRun

} // namespace nodwarden::app
