#pragma once

#include <QUrl>

#include <filesystem>
#include <functional>

namespace nodwarden::app {

/// The few ways the settings window reaches the desktop outside the model. Each has a working
/// default; tests replace them to see what would have been opened.
struct SettingsDesktopHooks {
    /// Opens a file or folder in the desktop's default viewer.
    std::function<bool(const QUrl&)> openUrl;
    /// Opens the desktop's list of programs started at login.
    std::function<void()> openLoginItems;
    /// The diagnostic log shown and opened by the Advanced tab.
    std::filesystem::path logPath;

    /// Opens through `QDesktopServices`; the login-items action opens the XDG autostart folder;
    /// the log is the platform's default diagnostic log.
    static SettingsDesktopHooks standard();
};

} // namespace nodwarden::app
