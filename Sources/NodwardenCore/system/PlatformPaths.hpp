#pragma once

#include <NodwardenCore/Export.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Where the program keeps its own files on each platform. The one place that decides these
/// folders: the diagnostic log, the run ledger, the statistics, the keep-awake pid file and the
/// lid marker.
namespace PlatformPaths {

/// Which folder convention to follow.
enum class PathStyle {
    macOS, ///< under ~/Library
    xdg,   ///< under ${XDG_STATE_HOME:-~/.local/state}/stayloom
};

/// The convention of the platform this library was built for.
PathStyle currentStyle();

/// The inputs that decide the folders, so callers (and tests) need not touch the real home.
struct Environment {
    std::filesystem::path home;
    /// Value of XDG_STATE_HOME; ignored unless it is an absolute path.
    std::optional<std::string> xdgStateHome;

    bool operator==(const Environment&) const = default;
};

/// Reads HOME (else the password database, else the temporary folder) and XDG_STATE_HOME.
Environment currentEnvironment();

/// Folder of the diagnostic log and the run ledger.
std::filesystem::path logsFolder(const Environment& environment, PathStyle style = currentStyle());
/// Folder of the pid file and the lid-closed marker.
std::filesystem::path supportFolder(const Environment& environment,
                                    PathStyle style = currentStyle());

/// "Nodwarden.log" in the logs folder on macOS, "stayloom.log" in the state folder elsewhere.
std::filesystem::path diagnosticLogPath(const Environment& environment,
                                        PathStyle style = currentStyle());

/// How far the diagnostic log may grow: without bound on macOS; elsewhere, when a line would take
/// the file past `maxBytes`, it becomes "<name>.1" (and "<name>.1" becomes "<name>.2" and so on)
/// and the oldest of `keptFiles` goes.
struct LogRotation {
    std::uintmax_t maxBytes = 0; ///< 0: never rotated
    int keptFiles = 0;

    bool operator==(const LogRotation&) const = default;
};
LogRotation diagnosticLogRotation(PathStyle style = currentStyle());

/// The statistics' own JSON file, "statistics.json" in the state folder; none on macOS, where they
/// stay in the user-defaults store.
std::optional<std::filesystem::path> statisticsPath(const Environment& environment,
                                                    PathStyle style = currentStyle());

/// Makes the state folder ready before anything opens a file there. Earlier versions kept it as
/// "Stayloom" with the log as "Nodwarden.log": that folder is renamed (with the pid file, marker
/// and lock inside) unless the new one exists, then the log. The folder is then created, or
/// narrowed, to its owner alone (0700), as the base-directory rules ask. Returns what was moved or
/// why it could not be, for the caller to log once; empty when there was nothing to say.
std::string prepareStateFolder(const Environment& environment, PathStyle style = currentStyle());
/// "Stayloom-runs.log" in the logs folder.
std::filesystem::path runLedgerPath(const Environment& environment,
                                    PathStyle style = currentStyle());
/// "caffeinate.pid" in the support folder.
std::filesystem::path keepAwakePidPath(const Environment& environment,
                                       PathStyle style = currentStyle());
/// "disablesleep.engaged" in the support folder.
std::filesystem::path lidClosedMarkerPath(const Environment& environment,
                                          PathStyle style = currentStyle());

/// The same paths for the current user on the current platform.
std::filesystem::path diagnosticLogPath();
std::filesystem::path runLedgerPath();
std::filesystem::path keepAwakePidPath();
std::filesystem::path lidClosedMarkerPath();

} // namespace PlatformPaths

} // namespace nodwarden
