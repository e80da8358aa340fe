#pragma once

#include "SessionInhibitorWatcher.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace stayloom::helpers {

/// What the helper holds and what this session's idle managers make of it.
struct HoldFacts {
    /// systemd's major version; 0 when it could not be read.
    int systemdVersion = 0;
    /// XDG_CURRENT_DESKTOP as the session set it.
    std::string desktop;
    /// The logind lock's what ("sleep" or "sleep:idle"); empty when none is held.
    std::string logindKind;
    std::vector<SessionLockState> sessionLocks;
    bool x11Held = false;
    /// Idle tools of our own user that may suspend the machine ("swayidle").
    std::vector<std::string> idleTools;
};

/// One line of the report: a lock, whether it is held, and whether the idle manager of this
/// session honours it.
struct ReportedLock {
    std::string service;
    std::string kind;
    bool held = false;
    bool honoured = false;
};

struct HoldAssessment {
    std::vector<ReportedLock> locks;
    /// Why the machine may suspend despite the locks; empty when nothing known would.
    std::string warning;
};

/// Before systemd 257 logind lets a user's own suspend pass that user's block lock, so what
/// protects a desktop is the inhibitor its own idle manager honours: gnome-session's, the
/// power manager's (Xfce's and KDE's), a screensaver's, the portal's, or, on KDE, logind's
/// locks, which PowerDevil copies. Idle tools that run `systemctl suspend` themselves honour
/// none of these, except hypridle (logind's idle locks) and xss-lock (the X screensaver).
HoldAssessment assessHold(const HoldFacts& facts);

/// The idle tools among the processes of `uid` below `procRoot`.
std::vector<std::string> runningIdleTools(const std::filesystem::path& procRoot, uid_t uid);

/// systemd's major version from the manager's Version property ("252.38-1~deb12u1"); 0 when
/// it cannot be read.
int systemdMajorVersion(sd_bus* systemBus);

/// Where the report of process `pid` goes: $XDG_RUNTIME_DIR/stayloom/inhibit-PID.state; none
/// without a runtime folder of our own.
std::optional<std::filesystem::path> holdReportPath(pid_t pid);

/// The report's text: "systemd N", "desktop NAME", one "lock SERVICE KIND held|free
/// honoured|ignored" line a lock and "warning TEXT".
std::string holdReportText(const HoldFacts& facts, const HoldAssessment& assessment);

} // namespace stayloom::helpers
