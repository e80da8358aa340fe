#include <NodwardenApp/platform/SystemdLoginItemService.hpp>

#include <NodwardenCore/system/AtomicFile.hpp>
#include <NodwardenCore/system/BoundedFileRead.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>
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

/// An installed unit is a few hundred bytes; anything longer is not one to read.
constexpr std::size_t maxUnitBytes = std::size_t{64} * 1024;

/// The program of a unit's first ExecStart line, unquoted, its prefixes ("-", "@", "+" …) dropped.
std::optional<std::filesystem::path> execStartProgram(const std::string& unit) {
    std::istringstream lines(unit);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ExecStart=", 0) != 0) {
            continue;
        }
        std::string value = line.substr(std::string("ExecStart=").size());
        const auto first = value.find_first_not_of("-@:+! \t");
        if (first == std::string::npos) {
            return std::nullopt;
        }
        value.erase(0, first);
        if (value.front() == '"') {
            const auto close = value.find('"', 1);
            return close == std::string::npos
                       ? std::nullopt
                       : std::optional<std::filesystem::path>(value.substr(1, close - 1));
        }
        return value.substr(0, value.find_first_of(" \t"));
    }
    return std::nullopt;
}

} // namespace

SystemdLoginItemService::SystemdLoginItemService(
    std::filesystem::path unitFolder, std::vector<std::filesystem::path> packagedUnitFolders,
    std::string executablePath, std::string systemctlPath, CommandRunning& runner,
    FileLogger& logger)
    : unitFolder_(std::move(unitFolder)), packagedUnitFolders_(std::move(packagedUnitFolders)),
      executablePath_(std::move(executablePath)), systemctlPath_(std::move(systemctlPath)),
      runner_(runner), logger_(logger) {}

std::vector<std::filesystem::path> SystemdLoginItemService::standardPackagedUnitFolders() {
    std::vector<std::filesystem::path> folders{"/etc/systemd/user", "/usr/local/lib/systemd/user",
                                               "/usr/lib/systemd/user"};
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream list(
        dataDirs != nullptr && *dataDirs != '\0' ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string folder; std::getline(list, folder, ':');) {
        // Relative entries are invalid by the base-directory rules.
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(std::filesystem::path(folder) / "systemd" / "user");
        }
    }
    return folders;
}

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

bool SystemdLoginItemService::packagedUnitExists() const {
    std::error_code error;
    for (const auto& folder : packagedUnitFolders_) {
        if (std::filesystem::is_regular_file(folder / unitName, error)) {
            return true;
        }
    }
    return false;
}

std::optional<std::filesystem::path> SystemdLoginItemService::packagedUnitForThisProgram() const {
    for (const auto& folder : packagedUnitFolders_) {
        const auto unit = folder / unitName;
        const auto text =
            BoundedFileRead::whole(unit, maxUnitBytes, BoundedFileRead::Links::follow);
        if (!text) {
            continue;
        }
        // The first unit found is the one systemd loads; it serves only if it runs this program.
        const auto program = execStartProgram(*text);
        std::error_code error;
        if (program && std::filesystem::equivalent(*program, executablePath_, error)) {
            return unit;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

bool SystemdLoginItemService::ownUnitIsEnabled() const {
    std::error_code error;
    return std::filesystem::is_regular_file(unitPath(), error) &&
           std::filesystem::exists(wantsLinkPath(), error);
}

CommandResult SystemdLoginItemService::systemctl(const std::string& verb) {
    // The user's manager is reached on the session bus, found through either of the last two
    // variables; without it systemctl reads and links the unit files itself, by the others.
    return runner_.run(
        ShellCommand{systemctlPath_,
                     {"--user", verb, unitName},
                     {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS",
                      "XDG_CONFIG_DIRS", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}});
}

LoginItemStatus SystemdLoginItemService::status() {
    if (ownUnitIsEnabled()) {
        return LoginItemStatus::enabled;
    }
    if (!packagedUnitExists()) {
        return LoginItemStatus::notRegistered;
    }
    // However the installed unit was enabled (by hand, by an administrator for every user), the
    // service manager's answer is the one that counts.
    try {
        const std::string state = systemctl("is-enabled").standardOutput;
        return state.rfind("enabled", 0) == 0 ? LoginItemStatus::enabled
                                              : LoginItemStatus::notRegistered;
    } catch (const CommandRunnerError& error) {
        if (!error.result().standardOutput.empty()) {
            return LoginItemStatus::notRegistered; // "disabled", "masked" …
        }
    } catch (const std::exception&) {
    }
    // No answer (no manager to ask, no systemctl): the link `enable` makes is the sign.
    std::error_code error;
    return std::filesystem::exists(wantsLinkPath(), error) ? LoginItemStatus::enabled
                                                           : LoginItemStatus::notRegistered;
}

void SystemdLoginItemService::registerItem() {
    const auto packaged = packagedUnitForThisProgram();
    if (!packaged) {
        writeOwnUnit();
        return;
    }
    // A unit of our own by the same name would shadow the installed one.
    if (removeOwnUnit()) {
        reloadUserManager();
    }
    try {
        systemctl("enable");
        return;
    } catch (const CommandRunnerError& error) {
        logger_.log("systemctl --user enable " + std::string(unitName) +
                    " failed: " + describe(error.result()));
    } catch (const std::exception& error) {
        logger_.log("systemctl --user enable " + std::string(unitName) +
                    " failed: " + error.what());
    }
    // Without a reachable manager the link `enable` makes is made here; it takes effect at the
    // next login as well.
    std::error_code error;
    std::filesystem::create_directories(wantsLinkPath().parent_path(), error);
    std::filesystem::remove(wantsLinkPath(), error);
    std::filesystem::create_symlink(*packaged, wantsLinkPath(), error);
    if (error) {
        throw LoginItemError("cannot link " + wantsLinkPath().string() + ": " + error.message());
    }
}

void SystemdLoginItemService::unregisterItem() {
    // The user's own link to an installed unit goes with our unit: that is what `disable` removes.
    if (removeOwnUnit()) {
        reloadUserManager();
    }
    if (!packagedUnitExists()) {
        return;
    }
    try {
        systemctl("disable");
    } catch (const std::exception& error) {
        // The link in the user's folder is gone already; only a manager's own view is stale.
        logger_.log("systemctl --user disable " + std::string(unitName) +
                    " failed: " + error.what());
    }
}

void SystemdLoginItemService::writeOwnUnit() {
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

bool SystemdLoginItemService::removeOwnUnit() {
    bool removed = false;
    for (const auto& path : {wantsLinkPath(), unitPath()}) {
        std::error_code error;
        removed = std::filesystem::remove(path, error) || removed;
        if (error) {
            throw LoginItemError("cannot remove " + path.string() + ": " + error.message());
        }
    }
    return removed;
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
