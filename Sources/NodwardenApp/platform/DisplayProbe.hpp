#pragma once

#include <functional>
#include <optional>
#include <string>

namespace nodwarden::app {

/// Whether the desktop interface can start, decided before any Qt GUI object exists: Qt ends
/// the process (SIGABRT) when its platform cannot connect, as with a DISPLAY left over from a
/// closed SSH session, so the connection is tried first and a failure means running headless.
struct DisplayChoice {
    bool usable = false;
    /// The Qt platform to ask for ("xcb", "wayland"); empty keeps what QT_QPA_PLATFORM says.
    std::string platform;
    /// One line for the user when a display was named but cannot be used.
    std::optional<std::string> notice;
};

/// What the probe reads from the process environment and the machine; tests replace parts.
struct DisplayEnvironment {
    std::function<std::optional<std::string>(const char*)> variable;
    /// Whether an X server answers on `display` (a full connection, authorisation included).
    std::function<bool(const std::string& display)> xServerAnswers;
    /// Whether a Wayland compositor listens on the socket `path`.
    std::function<bool(const std::string& path)> waylandAnswers;
    /// Whether Qt's Wayland platform plugin is installed.
    std::function<bool()> waylandPluginInstalled;

    /// The real environment: getenv, an X connection tried in a child process (bounded by
    /// `xTimeoutSeconds`, so an unreachable host cannot hang the start), a socket connect.
    static DisplayEnvironment current(double xTimeoutSeconds = 3);
};

DisplayChoice chooseDisplay(const DisplayEnvironment& environment);

} // namespace nodwarden::app
