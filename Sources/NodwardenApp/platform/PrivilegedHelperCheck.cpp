#include <NodwardenApp/platform/PrivilegedHelperCheck.hpp>

#include <NodwardenCore/system/FileLogger.hpp>

#include <sys/stat.h>

namespace nodwarden::app {

namespace {

/// Why one entry (followed through links) is not safe to hold or be what runs as root.
std::optional<std::string> entryRefusal(const std::filesystem::path& entry) {
    struct stat status {};
    if (::stat(entry.c_str(), &status) != 0) {
        return entry.string() + " does not exist";
    }
    if (status.st_uid != 0) {
        return entry.string() + " is owned by uid " + std::to_string(status.st_uid) + ", not root";
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return entry.string() + " is writable by group or others";
    }
    return std::nullopt;
}

/// Checks `path` and every folder above it, up to the root folder.
std::optional<std::string> chainRefusal(const std::filesystem::path& path) {
    for (std::filesystem::path entry = path;; entry = entry.parent_path()) {
        if (auto refusal = entryRefusal(entry)) {
            return refusal;
        }
        if (entry == entry.parent_path()) {
            return std::nullopt;
        }
    }
}

/// A command that fails at once, printing `message` as its error output.
ShellCommand failingCommand(const std::string& message) {
    return ShellCommand{"/bin/sh", {"-c", R"(printf '%s\n' "$1" >&2; exit 126)", "sh", message}};
}

} // namespace

std::optional<std::string> privilegedHelperRefusal(const std::filesystem::path& helper) {
    if (!helper.is_absolute()) {
        return helper.string() + " is not an absolute path";
    }
    const std::filesystem::path given = helper.lexically_normal();
    if (auto refusal = chainRefusal(given)) {
        return refusal;
    }
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(given, error);
    if (error) {
        return given.string() + " cannot be resolved: " + error.message();
    }
    if (!std::filesystem::is_regular_file(resolved, error)) {
        return resolved.string() + " is not a regular file";
    }
    // A link in a safe folder may still point into an unsafe one.
    return resolved == given ? std::nullopt : chainRefusal(resolved);
}

SleepCommandSet checkedSleepSwitchCommands(const std::string& elevatorPath,
                                           const std::string& helperPath, FileLogger& logger) {
    SleepCommandSet commands = SleepCommandSet::privilegedHelper(elevatorPath, helperPath);
    if (const auto refusal = privilegedHelperRefusal(helperPath)) {
        const std::string message = "Refusing to run the sleep-switch helper as root: " + *refusal +
                                    "; install it root-owned (for example under "
                                    "/usr/libexec/stayloom). Lid-closed protection is off.";
        logger.log(message);
        commands.engage = failingCommand(message);
        commands.adminRestore = failingCommand(message);
    }
    return commands;
}

} // namespace nodwarden::app
