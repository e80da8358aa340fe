#include <NodwardenLinux/SysfsText.hpp>
#include <NodwardenLinux/XdgAutostart.hpp>

#include <NodwardenCore/system/AtomicFile.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace nodwarden::linuxplatform {

namespace {

std::string quoteExec(const std::string& path) {
    // Desktop-entry Exec quoting: wrap in double quotes, escape the reserved characters.
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::vector<std::filesystem::path> splitConfigDirs(const char* value) {
    std::vector<std::filesystem::path> folders;
    std::string text = value && *value ? value : "/etc/xdg";
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ':')) {
        if (!item.empty() && item.front() == '/') {
            folders.emplace_back(std::filesystem::path(item) / "autostart");
        }
    }
    return folders;
}

} // namespace

bool desktopEntryIsActive(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") {
            return false;
        }
    }
    return true;
}

XdgAutostart::XdgAutostart(std::filesystem::path userAutostartFolder,
                           std::vector<std::filesystem::path> systemAutostartFolders,
                           std::string executablePath, std::string fileName)
    : userFolder_(std::move(userAutostartFolder)),
      systemFolders_(std::move(systemAutostartFolders)), executablePath_(std::move(executablePath)),
      fileName_(std::move(fileName)) {}

XdgAutostart XdgAutostart::forCurrentUser(std::string executablePath) {
    std::filesystem::path configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        configHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        configHome = std::filesystem::path(home) / ".config";
    } else {
        configHome = "/nonexistent/.config";
    }
    return XdgAutostart(configHome / "autostart", splitConfigDirs(std::getenv("XDG_CONFIG_DIRS")),
                        std::move(executablePath));
}

bool XdgAutostart::systemCopyExists() const {
    std::error_code error;
    for (const auto& folder : systemFolders_) {
        if (std::filesystem::exists(folder / fileName_, error)) {
            return true;
        }
    }
    return false;
}

bool XdgAutostart::earlierEntryIsActive() const {
    if (fileName_ == earlierFileName) {
        return false;
    }
    const auto text = readTrimmedFile(userFolder_ / earlierFileName);
    return text && desktopEntryIsActive(*text);
}

void XdgAutostart::removeEarlierEntry() const {
    if (fileName_ == earlierFileName) {
        return;
    }
    std::error_code error;
    std::filesystem::remove(userFolder_ / earlierFileName, error);
    if (error) {
        throw AutostartError("Could not remove " + (userFolder_ / earlierFileName).string() + ": " +
                             error.message());
    }
}

bool XdgAutostart::isEnabled() const {
    // The user's file, when present, decides alone; it overrides a system copy of the same name.
    if (const auto text = readTrimmedFile(userFile())) {
        return desktopEntryIsActive(*text);
    }
    for (const auto& folder : systemFolders_) {
        if (const auto text = readTrimmedFile(folder / fileName_)) {
            return desktopEntryIsActive(*text);
        }
    }
    return earlierEntryIsActive();
}

bool XdgAutostart::replaceEarlierEntry() const {
    if (!earlierEntryIsActive()) {
        return false;
    }
    enable();
    return true;
}

void XdgAutostart::writeAtomically(const std::string& contents) const {
    using std::filesystem::perms;
    try {
        AtomicFile::write(userFile(), contents,
                          perms::owner_read | perms::owner_write | perms::group_read |
                              perms::others_read);
    } catch (const std::filesystem::filesystem_error& error) {
        throw AutostartError("Could not write " + userFile().string() + ": " +
                             error.code().message());
    }
}

void XdgAutostart::enable() const {
    writeAtomically("[Desktop Entry]\n"
                    "Type=Application\n"
                    "Name=Stayloom\n"
                    "Comment=Keeps the computer awake while AI coding agents work\n"
                    "Exec=" +
                    quoteExec(executablePath_) +
                    "\n"
                    "Icon=org.stayloom.Stayloom\n"
                    "Terminal=false\n"
                    "X-GNOME-Autostart-enabled=true\n");
    // Only once the new entry is in place: a failure above leaves the earlier one starting it.
    removeEarlierEntry();
}

void XdgAutostart::disable() const {
    removeEarlierEntry();
    if (systemCopyExists()) {
        writeAtomically("[Desktop Entry]\nType=Application\nName=Stayloom\nHidden=true\n");
        return;
    }
    std::error_code error;
    std::filesystem::remove(userFile(), error);
    if (error) {
        throw AutostartError("Could not remove " + userFile().string() + ": " + error.message());
    }
}

} // namespace nodwarden::linuxplatform
