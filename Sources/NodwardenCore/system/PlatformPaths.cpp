#include <NodwardenCore/system/PlatformPaths.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
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

std::filesystem::path xdgStateHome(const Environment& environment) {
    if (environment.xdgStateHome && !environment.xdgStateHome->empty()) {
        std::filesystem::path state(*environment.xdgStateHome);
        // Relative values are invalid by the base-directory rules and must be ignored.
        if (state.is_absolute()) {
            return state;
        }
    }
    return environment.home / ".local" / "state";
}

std::filesystem::path xdgStateFolder(const Environment& environment) {
    return xdgStateHome(environment) / "stayloom";
}

/// Renames `from` to `to` unless `to` exists or `from` is not of `kind`; a line for the log.
std::string renameOnce(const std::filesystem::path& from, const std::filesystem::path& to,
                       std::filesystem::file_type kind) {
    std::error_code error;
    // A link is never followed: whatever it points at stays where it is.
    if (std::filesystem::symlink_status(from, error).type() != kind ||
        std::filesystem::symlink_status(to, error).type() !=
            std::filesystem::file_type::not_found) {
        return {};
    }
    std::filesystem::rename(from, to, error);
    if (error) {
        return "Could not move " + from.string() + " to " + to.string() + ": " + error.message();
    }
    return "Moved " + from.string() + " to " + to.string();
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
    if (style == PathStyle::macOS) {
        return logsFolder(environment, style) / "Nodwarden.log";
    }
    return logsFolder(environment, style) / "stayloom.log";
}

LogRotation diagnosticLogRotation(PathStyle style) {
    if (style == PathStyle::macOS) {
        return {};
    }
    // About a megabyte a file, enough for days of ordinary lines and a bad hour of failures.
    return LogRotation{std::uintmax_t{1024} * 1024, 3};
}

std::optional<std::filesystem::path> statisticsPath(const Environment& environment,
                                                    PathStyle style) {
    if (style == PathStyle::macOS) {
        return std::nullopt;
    }
    return xdgStateFolder(environment) / "statistics.json";
}

std::string prepareStateFolder(const Environment& environment, PathStyle style) {
    if (style == PathStyle::macOS) {
        return {};
    }
    const std::filesystem::path folder = xdgStateFolder(environment);
    std::vector<std::string> said;
    said.push_back(renameOnce(xdgStateHome(environment) / "Stayloom", folder,
                              std::filesystem::file_type::directory));
    said.push_back(renameOnce(folder / "Nodwarden.log", diagnosticLogPath(environment, style),
                              std::filesystem::file_type::regular));
    std::error_code error;
    std::filesystem::create_directories(folder.parent_path(), error);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        said.push_back("Could not create " + folder.string() + ": " + std::strerror(errno));
    }
    // Narrowed only when it is our own folder; a link there is left for whoever made it.
    struct stat status {};
    if (::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
        status.st_uid == ::getuid() && (status.st_mode & 077) != 0) {
        ::chmod(folder.c_str(), 0700);
    }
    std::string text;
    for (const std::string& line : said) {
        if (!line.empty()) {
            text += (text.empty() ? "" : "; ") + line;
        }
    }
    return text;
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
