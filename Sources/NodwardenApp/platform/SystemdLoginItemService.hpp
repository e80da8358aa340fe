#pragma once

#include <NodwardenApp/model/LoginItemService.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden {
class CommandRunning;
class FileLogger;
struct CommandResult;
} // namespace nodwarden

namespace nodwarden::app {

/// Launch at login where there is no desktop to read an autostart entry: the systemd user unit
/// "stayloom.service". Where the package installed that unit for this program, it is enabled and
/// disabled with `systemctl --user`, and reads as on however it was enabled. Only a copy the
/// package did not install gets a unit of its own in the user's unit folder, enabled by its link
/// in "default.target.wants" (the link `systemctl --user enable` would make, made here so that no
/// user bus is needed); after a change to it the user manager is asked to reload, and that failing
/// is logged, not an error, since the files alone take effect at the next login.
class SystemdLoginItemService final : public LoginItemService {
public:
    static constexpr const char* unitName = "stayloom.service";

    /// `unitFolder` is "systemd/user" below the configuration home; `packagedUnitFolders` are
    /// the folders of the unit search path that packages install to
    /// (`standardPackagedUnitFolders`); `runner` runs `systemctl` (with a short time-out) and,
    /// with `logger`, must outlive the service.
    SystemdLoginItemService(std::filesystem::path unitFolder,
                            std::vector<std::filesystem::path> packagedUnitFolders,
                            std::string executablePath, std::string systemctlPath,
                            CommandRunning& runner, FileLogger& logger);

    /// systemd's folders of user units installed by packages or the administrator, those of
    /// $XDG_DATA_DIRS included.
    static std::vector<std::filesystem::path> standardPackagedUnitFolders();

    LoginItemStatus status() override;
    void registerItem() override;
    void unregisterItem() override;

    std::filesystem::path unitPath() const { return unitFolder_ / unitName; }
    std::filesystem::path wantsLinkPath() const {
        return unitFolder_ / "default.target.wants" / unitName;
    }

    /// The unit's text; the program's path quoted for systemd.
    static std::string unitText(const std::string& executablePath);

private:
    /// The installed unit when it runs this program; none for a copy the package did not install.
    std::optional<std::filesystem::path> packagedUnitForThisProgram() const;
    bool packagedUnitExists() const;
    bool ownUnitIsEnabled() const;
    /// `systemctl --user <verb> stayloom.service`; throws what the runner throws.
    CommandResult systemctl(const std::string& verb);
    void writeOwnUnit();
    /// True when a file was removed.
    bool removeOwnUnit();
    void reloadUserManager();

    std::filesystem::path unitFolder_;
    std::vector<std::filesystem::path> packagedUnitFolders_;
    std::string executablePath_;
    std::string systemctlPath_;
    CommandRunning& runner_;
    FileLogger& logger_;
};

} // namespace nodwarden::app
