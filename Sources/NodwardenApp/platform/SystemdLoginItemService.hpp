#pragma once

#include <NodwardenApp/model/LoginItemService.hpp>

#include <filesystem>
#include <string>

namespace nodwarden {
class CommandRunning;
class FileLogger;
} // namespace nodwarden

namespace nodwarden::app {

/// Launch at login where there is no desktop to read an autostart entry: a systemd user unit
/// "stayloom.service" that runs the program, enabled by its link in "default.target.wants" (the
/// link `systemctl --user enable` would make, made here so that no user bus is needed). After a
/// change the user manager is asked to reload; that failing is logged, not an error, since the
/// files alone take effect at the next login.
class SystemdLoginItemService final : public LoginItemService {
public:
    static constexpr const char* unitName = "stayloom.service";

    /// `unitFolder` is "systemd/user" below the configuration home; `runner` runs `systemctl`
    /// (with a short time-out) and, with `logger`, must outlive the service.
    SystemdLoginItemService(std::filesystem::path unitFolder, std::string executablePath,
                            std::string systemctlPath, CommandRunning& runner, FileLogger& logger);

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
    void reloadUserManager();

    std::filesystem::path unitFolder_;
    std::string executablePath_;
    std::string systemctlPath_;
    CommandRunning& runner_;
    FileLogger& logger_;
};

} // namespace nodwarden::app
