#include <NodwardenApp/platform/DisplayProbe.hpp>

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace nodwarden::app {

namespace {

std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

/// Connects in a child so that neither a hang nor a crash inside libxcb reaches this process,
/// and kills the child at the time-out.
bool xServerAnswersInChild(const std::string& display, double timeoutSeconds) {
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        int screen = 0;
        xcb_connection_t* connection = xcb_connect(display.c_str(), &screen);
        const bool ok = xcb_connection_has_error(connection) == 0;
        xcb_disconnect(connection);
        ::_exit(ok ? 0 : 1);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool unixSocketAnswers(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool qtWaylandPluginInstalled() {
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty();
}

/// The Wayland socket a client would use: absolute, or below the runtime folder.
std::optional<std::string> waylandSocket(const DisplayEnvironment& environment,
                                         const std::string& name) {
    if (name.front() == '/') {
        return name;
    }
    const auto runtime = environment.variable("XDG_RUNTIME_DIR");
    if (!runtime) {
        return std::nullopt;
    }
    return *runtime + "/" + name;
}

std::string quoted(const std::string& text) {
    return "“" + text + "”";
}

} // namespace

DisplayEnvironment DisplayEnvironment::current(double xTimeoutSeconds) {
    return DisplayEnvironment{
        environmentVariable,
        [xTimeoutSeconds](const std::string& display) {
            return xServerAnswersInChild(display, xTimeoutSeconds);
        },
        unixSocketAnswers,
        qtWaylandPluginInstalled,
    };
}

DisplayChoice chooseDisplay(const DisplayEnvironment& environment) {
    const auto display = environment.variable("DISPLAY");
    const auto wayland = environment.variable("WAYLAND_DISPLAY");
    const auto requested = environment.variable("QT_QPA_PLATFORM");
    const std::string headless = "; running without a desktop.";

    const auto tryX = [&]() -> DisplayChoice {
        if (!display) {
            return {false, {}, std::nullopt};
        }
        if (environment.xServerAnswers(*display)) {
            return {true, "xcb", std::nullopt};
        }
        return {false,
                {},
                "Cannot open the display " + quoted(*display) + " (no X server lets us in)" +
                    headless};
    };
    const auto tryWayland = [&]() -> DisplayChoice {
        if (!wayland) {
            return {false, {}, std::nullopt};
        }
        const auto socket = waylandSocket(environment, *wayland);
        if (!socket || !environment.waylandAnswers(*socket)) {
            return {false,
                    {},
                    "Cannot open the Wayland display " + quoted(*wayland) +
                        " (nothing listens there)" + headless};
        }
        if (!environment.waylandPluginInstalled()) {
            return {false,
                    {},
                    "The Wayland display " + quoted(*wayland) +
                        " needs Qt's Wayland platform (package qt6-wayland)" + headless};
        }
        return {true, "wayland", std::nullopt};
    };

    if (requested) {
        // An explicit platform is taken at its word, except the two that need a server.
        const std::string first = requested->substr(0, requested->find_first_of(";:"));
        if (first == "xcb") {
            DisplayChoice choice = tryX();
            choice.platform.clear();
            return choice;
        }
        if (first.rfind("wayland", 0) == 0) {
            DisplayChoice choice = tryWayland();
            choice.platform.clear();
            return choice;
        }
        return {true, {}, std::nullopt};
    }
    DisplayChoice viaWayland = tryWayland();
    if (viaWayland.usable) {
        return viaWayland;
    }
    DisplayChoice viaX = tryX();
    if (viaX.usable || viaX.notice) {
        return viaX;
    }
    return viaWayland;
}

} // namespace nodwarden::app
