#include <NodwardenCore/PlatformPaths.hpp>

#include <cstdlib>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace nodwarden::PlatformPaths {

namespace {

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> homeFromPasswordDatabase() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

std::filesystem::path xdgStateFolder(const Environment& environment) {
    if (environment.xdgStateHome && !environment.xdgStateHome->empty()) {
        std::filesystem::path state(*environment.xdgStateHome);
        // Relative values are invalid by the base-directory rules and must be ignored.
        if (state.is_absolute()) {
            return state / "Stayloom";
        }
    }
    return environment.home / ".local" / "state" / "Stayloom";
}

} // namespace

PathStyle currentStyle() {
#if defined(__APPLE__)
    return PathStyle::macOS;
#else
    return PathStyle::xdg;
#endif
}

Environment currentEnvironment() {
    Environment environment;
    if (auto home = environmentValue("HOME"); home && !home->empty()) {
        environment.home = *home;
    } else if (auto fromDatabase = homeFromPasswordDatabase()) {
        environment.home = *fromDatabase;
    } else {
        // Never fall back to a relative path: files would land wherever we were started.
        std::error_code error;
        environment.home = std::filesystem::temp_directory_path(error);
        if (error) {
            environment.home = "/tmp";
        }
    }
    environment.xdgStateHome = environmentValue("XDG_STATE_HOME");
    return environment;
}

std::filesystem::path logsFolder(const Environment& environment, PathStyle style) {
    if (style == PathStyle::macOS) {
        return environment.home / "Library" / "Logs";
    }
    return xdgStateFolder(environment);
}

std::filesystem::path supportFolder(const Environment& environment, PathStyle style) {
    if (style == PathStyle::macOS) {
        return environment.home / "Library" / "Application Support" / "Stayloom";
    }
    return xdgStateFolder(environment);
}

std::filesystem::path diagnosticLogPath(const Environment& environment, PathStyle style) {
    return logsFolder(environment, style) / "Nodwarden.log";
}

std::filesystem::path runLedgerPath(const Environment& environment, PathStyle style) {
    return logsFolder(environment, style) / "Stayloom-runs.log";
}

std::filesystem::path keepAwakePidPath(const Environment& environment, PathStyle style) {
    return supportFolder(environment, style) / "caffeinate.pid";
}

std::filesystem::path lidClosedMarkerPath(const Environment& environment, PathStyle style) {
    return supportFolder(environment, style) / "disablesleep.engaged";
}

std::filesystem::path diagnosticLogPath() {
    return diagnosticLogPath(currentEnvironment());
}
std::filesystem::path runLedgerPath() {
    return runLedgerPath(currentEnvironment());
}
std::filesystem::path keepAwakePidPath() {
    return keepAwakePidPath(currentEnvironment());
}
std::filesystem::path lidClosedMarkerPath() {
    return lidClosedMarkerPath(currentEnvironment());
}

} // namespace nodwarden::PlatformPaths
