#include <NodwardenApp/platform/SystemdLoginItemService.hpp>

#include <NodwardenCore/AtomicFile.hpp>
#include <NodwardenCore/FileLogger.hpp>
#include <NodwardenCore/ShellCommand.hpp>

#include <fstream>
#include <system_error>

#include <unistd.h>

namespace nodwarden::app {

namespace {

/// One systemd command-line word: quoted, with the characters systemd would otherwise expand
/// ("%" specifiers, "$" variables) or unquote escaped.
std::string systemdWord(const std::string& text) {
    std::string word = "\"";
    for (const char c : text) {
        switch (c) {
        case '\\':
        case '"':
            word += '\\';
            word += c;
            break;
        case '%':
            word += "%%";
            break;
        case '$':
            word += "$$";
            break;
        default:
            word += c;
        }
    }
    return word + '"';
}

} // namespace

SystemdLoginItemService::SystemdLoginItemService(std::filesystem::path unitFolder,
                                                 std::string executablePath,
                                                 std::string systemctlPath, CommandRunning& runner,
                                                 FileLogger& logger)
    : unitFolder_(std::move(unitFolder)), executablePath_(std::move(executablePath)),
      systemctlPath_(std::move(systemctlPath)), runner_(runner), logger_(logger) {}

std::string SystemdLoginItemService::unitText(const std::string& executablePath) {
    return "[Unit]\n"
           "Description=Stayloom: keeps the computer awake while AI coding agents work\n"
           "\n"
           "[Service]\n"
           "Type=simple\n"
           "ExecStart=" +
           systemdWord(executablePath) +
           "\n"
           "Restart=on-failure\n"
           "\n"
           "[Install]\n"
           "WantedBy=default.target\n";
}

LoginItemStatus SystemdLoginItemService::status() {
    std::error_code error;
    const bool unit = std::filesystem::is_regular_file(unitPath(), error);
    const bool wanted = std::filesystem::exists(wantsLinkPath(), error);
    return unit && wanted ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
}

void SystemdLoginItemService::registerItem() {
    std::error_code error;
    std::filesystem::create_directories(wantsLinkPath().parent_path(), error);
    if (error) {
        throw LoginItemError("cannot create " + wantsLinkPath().parent_path().string() + ": " +
                             error.message());
    }
    // Written beside and renamed over, so the user manager never reads half a unit.
    try {
        using std::filesystem::perms;
        AtomicFile::write(unitPath(), unitText(executablePath_),
                          perms::owner_read | perms::owner_write | perms::group_read |
                              perms::others_read);
    } catch (const std::filesystem::filesystem_error& failure) {
        throw LoginItemError("cannot write " + unitPath().string() + ": " +
                             failure.code().message());
    }
    std::filesystem::remove(wantsLinkPath(), error);
    std::filesystem::create_symlink(std::filesystem::path("..") / unitName, wantsLinkPath(), error);
    if (error) {
        throw LoginItemError("cannot link " + wantsLinkPath().string() + ": " + error.message());
    }
    reloadUserManager();
}

void SystemdLoginItemService::unregisterItem() {
    bool removed = false;
    for (const auto& path : {wantsLinkPath(), unitPath()}) {
        std::error_code error;
        removed = std::filesystem::remove(path, error) || removed;
        if (error) {
            throw LoginItemError("cannot remove " + path.string() + ": " + error.message());
        }
    }
    // Nothing to tell the manager when there was no unit (the usual case on a desktop).
    if (removed) {
        reloadUserManager();
    }
}

void SystemdLoginItemService::reloadUserManager() {
    if (::access(systemctlPath_.c_str(), X_OK) != 0) {
        return;
    }
    try {
        // The user's service manager is reached on the session bus, found through either variable.
        runner_.run(ShellCommand{systemctlPath_,
                                 {"--user", "daemon-reload"},
                                 {"XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}});
    } catch (const std::exception& error) {
        logger_.log(std::string("systemctl --user daemon-reload failed: ") + error.what());
    }
}

} // namespace nodwarden::app
