#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace nodwarden::linuxplatform {

/// Why registering or unregistering the autostart entry failed, with the system's text.
class AutostartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Launch at login through an XDG autostart file, read afresh on every question.
class XdgAutostart {
public:
    /// `userAutostartFolder` is normally ~/.config/autostart; `systemAutostartFolders` the
    /// autostart folders of $XDG_CONFIG_DIRS (normally /etc/xdg/autostart).
    XdgAutostart(std::filesystem::path userAutostartFolder,
                 std::vector<std::filesystem::path> systemAutostartFolders,
                 std::string executablePath, std::string fileName = defaultFileName);

    /// Named by the desktop-file id, as the session expects, so it shows the program's icon.
    static constexpr const char* defaultFileName = "org.stayloom.Stayloom.desktop";
    /// The name earlier versions gave the user's entry.
    static constexpr const char* earlierFileName = "stayloom.desktop";

    /// Folders from $XDG_CONFIG_HOME / $HOME and $XDG_CONFIG_DIRS.
    static XdgAutostart forCurrentUser(std::string executablePath);

    /// True when a login would start the program, through this entry or an earlier version's.
    bool isEnabled() const;

    /// Writes the user's entry atomically and removes an earlier version's. Throws AutostartError.
    void enable() const;

    /// Removes the user's entry and an earlier version's, or hides a system-wide one. Throws
    /// AutostartError.
    void disable() const;

    /// Replaces an earlier version's active entry with this one, so that it starts the program
    /// the same way and the session shows its icon. True when one was replaced. Throws
    /// AutostartError; the earlier entry then stays as it was.
    bool replaceEarlierEntry() const;

    std::filesystem::path userFile() const { return userFolder_ / fileName_; }

private:
    bool systemCopyExists() const;
    bool earlierEntryIsActive() const;
    void removeEarlierEntry() const;
    void writeAtomically(const std::string& contents) const;

    std::filesystem::path userFolder_;
    std::vector<std::filesystem::path> systemFolders_;
    std::string executablePath_;
    std::string fileName_;
};

/// Whether a desktop entry's text would be started: not Hidden, not disabled for GNOME.
bool desktopEntryIsActive(const std::string& text);

} // namespace nodwarden::linuxplatform
