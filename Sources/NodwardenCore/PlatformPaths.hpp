#pragma once

#include <NodwardenCore/Export.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Where the program keeps its own files on each platform. The one place that decides these
/// folders: the diagnostic log, the run ledger, the keep-awake pid file and the lid marker.
namespace PlatformPaths {

/// Which folder convention to follow.
enum class PathStyle {
    macOS, ///< under ~/Library
    xdg,   ///< under ${XDG_STATE_HOME:-~/.local/state}/Stayloom
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

/// "Nodwarden.log" in the logs folder.
std::filesystem::path diagnosticLogPath(const Environment& environment,
                                        PathStyle style = currentStyle());
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
