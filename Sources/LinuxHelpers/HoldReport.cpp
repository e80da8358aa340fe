#include "HoldReport.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stayloom::helpers {

namespace {

constexpr std::array<std::string_view, 5> idleToolNames{"swayidle", "xidlehook", "xautolock",
                                                        "hypridle", "xss-lock"};

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

} // namespace

HoldAssessment assessHold(const HoldFacts& facts) {
    HoldAssessment assessment;
    const bool logindHeld = !facts.logindKind.empty();
    const bool ownSuspendBlocked = logindHeld && facts.systemdVersion >= 257;
    const bool kde = contains(facts.desktop, "KDE");
    bool sessionSuspendHeld = false;
    bool sessionSuspendWanted = false;
    bool screenSaverHeld = false;
    for (const auto& lock : facts.sessionLocks) {
        // One still asked is not yet refused.
        if (contains(lock.kind, "suspend") && !lock.pending) {
            sessionSuspendWanted = true;
            sessionSuspendHeld = sessionSuspendHeld || lock.held;
        }
        if (lock.service == "org.freedesktop.ScreenSaver") {
            screenSaverHeld = lock.held;
        }
    }
    const bool quietSession = facts.sessionLocks.empty() && facts.idleTools.empty();
    if (logindHeld) {
        assessment.locks.push_back({"org.freedesktop.login1", facts.logindKind, true,
                                    ownSuspendBlocked || kde || quietSession});
    }
    for (const auto& lock : facts.sessionLocks) {
        assessment.locks.push_back({lock.service, lock.kind, lock.held, lock.held});
    }
    if (facts.x11Held) {
        assessment.locks.push_back({"x11", "idle", true, true});
    }
    if (ownSuspendBlocked) {
        return assessment;
    }

    std::vector<std::string> unheeding;
    bool hypridleOnly = true;
    for (const auto& tool : facts.idleTools) {
        if (tool == "hypridle" && contains(facts.logindKind, "idle")) {
            continue;
        }
        if (tool == "xss-lock" && (facts.x11Held || screenSaverHeld)) {
            continue;
        }
        hypridleOnly = hypridleOnly && tool == "hypridle";
        unheeding.push_back(tool);
    }
    if (sessionSuspendWanted && !sessionSuspendHeld && !(kde && logindHeld)) {
        hypridleOnly = false;
        unheeding.insert(unheeding.begin(), "the desktop's power manager, which has not granted "
                                            "Stayloom's lock");
    }
    if (unheeding.empty()) {
        return assessment;
    }
    assessment.warning =
        "This desktop's idle tool may suspend despite Stayloom's lock: " + joined(unheeding) + ". ";
    if (hypridleOnly) {
        assessment.warning += "It honours only a lock against idle: turn off \u201CLet the "
                              "display sleep\u201D, or use systemd 257 or later.";
    } else {
        assessment.warning += "Take the suspend step out of its settings while agents work, or "
                              "use systemd 257 or later, where the lock holds against your own "
                              "suspend.";
    }
    return assessment;
}

std::vector<std::string> runningIdleTools(const std::filesystem::path& procRoot, uid_t uid) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(procRoot, error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) {
            continue;
        }
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0 || info.st_uid != uid) {
            continue;
        }
        std::ifstream file(entry.path() / "comm");
        std::string comm;
        std::getline(file, comm);
        if (std::find(idleToolNames.begin(), idleToolNames.end(), comm) != idleToolNames.end() &&
            std::find(found.begin(), found.end(), comm) == found.end()) {
            found.push_back(comm);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

int systemdMajorVersion(sd_bus* systemBus) {
    if (systemBus == nullptr) {
        return 0;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* version = nullptr;
    const int code = sd_bus_get_property_string(
        systemBus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
        "org.freedesktop.systemd1.Manager", "Version", &error, &version);
    sd_bus_error_free(&error);
    if (code < 0 || version == nullptr) {
        return 0;
    }
    const char* digits = version;
    while (*digits != '\0' && (*digits < '0' || *digits > '9')) {
        ++digits;
    }
    const int major = std::atoi(digits);
    std::free(version);
    return major;
}

std::optional<std::filesystem::path> holdReportPath(pid_t pid) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/') {
        return std::nullopt;
    }
    const std::filesystem::path folder = std::filesystem::path(runtime) / "stayloom";
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    // Ours alone, and not a link someone planted to have us write elsewhere.
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 0077) != 0) {
        return std::nullopt;
    }
    return folder / ("inhibit-" + std::to_string(pid) + ".state");
}

std::string holdReportText(const HoldFacts& facts, const HoldAssessment& assessment) {
    std::string text = "systemd " + std::to_string(facts.systemdVersion) + "\n";
    if (!facts.desktop.empty()) {
        text += "desktop " + facts.desktop + "\n";
    }
    for (const auto& lock : assessment.locks) {
        text += "lock " + lock.service + " " + lock.kind + (lock.held ? " held" : " free") +
                (lock.honoured ? " honoured" : " ignored") + "\n";
    }
    if (!assessment.warning.empty()) {
        text += "warning " + assessment.warning + "\n";
    }
    return text;
}

} // namespace stayloom::helpers
