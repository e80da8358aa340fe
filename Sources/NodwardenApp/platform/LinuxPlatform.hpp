#pragma once

#include <NodwardenApp/model/AppEnvironment.hpp>
#include <NodwardenApp/platform/HelperLocator.hpp>
#include <NodwardenCore/hooks/HookWitness.hpp>
#include <NodwardenCore/system/PlatformPaths.hpp>
#include <NodwardenLinux/LidSwitchReader.hpp>
#include <NodwardenLinux/LogindInhibitorWitness.hpp>
#include <NodwardenLinux/XdgAutostart.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden {
class AccessibilityPlatform;
class FileLogger;
} // namespace nodwarden

namespace nodwarden::app {

class WindowPresenter;

/// What decides the Linux services: the user's folders, the machine's /proc and /sys, and where
/// the helper programs are. Tests point every one of them at temporary folders.
struct LinuxPlatformOptions {
    /// Home and state folders: pid file, lid-closed marker, diagnostic log, run ledger.
    PlatformPaths::Environment paths;
    /// ${XDG_CONFIG_HOME:-~/.config}: the settings file lives below it.
    std::filesystem::path configHome;
    /// Root of the process table's /proc ("/" on a real machine).
    std::filesystem::path processRoot = "/";
    /// Root of /sys and /proc/acpi, for power, lid and thermal state ("/" on a real machine).
    std::filesystem::path hardwareRoot = "/";
    /// Asks logind whether the lid is closed when no ACPI lid file says so.
    linuxplatform::LidSwitchReader::LogindLidQuery logindLid =
        linuxplatform::LidSwitchReader::queryLogindLidClosed;
    /// Lists logind's sleep locks, so the agents' own locks speak for them.
    linuxplatform::InhibitorListing inhibitors = linuxplatform::LogindInhibitorWitness::queryLogind;
    /// The turns the agents' hooks announced; the control socket hands their events here.
    std::shared_ptr<HookWitness> hooks = std::make_shared<HookWitness>();
    HelperSearchPath helpers;
    /// Runs the sleep switch with administrator rights (it shows the desktop's password prompt).
    std::string elevatorPath = "/usr/bin/pkexec";
    /// The program the autostart entry starts.
    std::string executablePath;
    /// The autostart entry; the current user's folders when absent.
    std::optional<linuxplatform::XdgAutostart> autostart;
    /// Whether the program runs on a desktop: launch at login is then the desktop's autostart
    /// entry, otherwise a systemd user unit below `configHome`.
    bool desktopSession = true;
    /// Enables the installed unit and tells the user's service manager about a changed one.
    std::string systemctlPath = "/usr/bin/systemctl";
    /// Where packages install systemd user units; systemd's own folders when absent.
    std::optional<std::vector<std::filesystem::path>> packagedUnitFolders;
    /// The accessibility interface; the desktop's AT-SPI bus when absent.
    std::shared_ptr<AccessibilityPlatform> accessibility;
    /// Where the user's tmux servers keep their sockets; empty: tmux panes are not read.
    std::filesystem::path tmuxSocketFolder;
    /// Seconds between ticks and before the first one.
    double tickInterval = 3.0;
    double firstTickDelay = 0.75;

    /// The current user's folders from HOME and the XDG variables, helpers found from
    /// `executablePath`.
    static LinuxPlatformOptions forCurrentUser(const std::filesystem::path& executablePath);
};

/// The settings file: "Stayloom/Stayloom.conf" below `configHome`, where QSettings puts the INI
/// file of organisation "Stayloom" and application "Stayloom".
std::filesystem::path settingsFilePath(const std::filesystem::path& configHome);

/// The folder of the per-user lock: the one holding the keep-awake pid file.
std::filesystem::path instanceLockFolder(const LinuxPlatformOptions& options);

/// Whether process `pid` exists, also when it is another user's.
bool processExists(std::int32_t pid);

/// Builds every machine service the model needs on Linux: power and lid from sysfs and procfs,
/// the process table from /proc, session files below the home folder (depth 8), on-screen text
/// over AT-SPI, thermal state from the thermal zones, the sleep controller with the
/// `stayloom-inhibit` helper and the sleep-switch helper, XDG autostart and the INI settings file.
/// The services are owned by the result (`keepAlive`, and `detectionKeepAlive` for what only
/// detection reads). `windows` and `logger` must outlive the model.
AppEnvironment makeLinuxEnvironment(const LinuxPlatformOptions& options, WindowPresenter& windows,
                                    FileLogger& logger);

} // namespace nodwarden::app
