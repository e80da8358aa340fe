// Holds the machine awake while it runs, for as long as the parent wants: until SIGTERM or SIGINT.
//
// No single inhibitor is honoured by every desktop, and before systemd 257 logind lets a user's own
// suspend requests (the desktop's idle suspend, the Suspend menu) pass its block locks. So the
// locks are stacked: a logind block lock (against idle too only while the display is kept on, since
// KDE keeps the screen on for an idle lock), plus the desktop session's own inhibitors, followed as
// their services come and go, plus a bare X server's own blanking while nothing else keeps the
// display on. What is held, and whether this desktop heeds it, is reported in the runtime folder
// for the program. While the sleep switch's own masks are in place, a lid-switch lock keeps logind
// from retrying suspend in a loop; masks an administrator made are theirs, and a plain keep-awake
// must not change what closing the lid does.
//
// When STAYLOOM_READY_FD names an open descriptor, "READY=1" is written to it once every lock is
// held; a parent that waits for it knows the hold is real, and end of file without it means the
// hold failed.
//
// STAYLOOM_WHY, when set, is the reason logind and the desktop show for the hold ("Claude Code is
// working"). A new reason is a new helper: the program starts it and lets this one go only once
// the new one holds, so the machine is never left without a lock.
//
// The locks never outlive the program that started the helper: its death (a SIGKILL, a crash, the
// OOM killer) ends the hold at once. STAYLOOM_PARENT_PID names that program; a helper whose parent
// is already someone else when it starts takes no lock at all.

#include "BusSupport.hpp"
#include "HoldReport.hpp"
#include "SessionInhibitorWatcher.hpp"
#include "SleepTargets.hpp"
#include "X11BlankingGuard.hpp"

#include <NodwardenCore/system/AtomicFile.hpp>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <systemd/sd-event.h>
#include <unistd.h>

namespace {

using namespace stayloom::helpers;

constexpr const char* who = "Stayloom";
// Desktops look the application id up among the installed desktop files for a name and an icon.
constexpr const char* appId = "org.stayloom.Stayloom";
// Long enough for any agent's name in a sentence; a longer one is cut rather than refused.
constexpr std::size_t whyLimit = 200;
constexpr std::uint64_t maskCheckIntervalMicroseconds = 1'000'000;
// Well inside the time the parent waits for readiness, so a slow bus ends in an answer.
constexpr std::uint64_t busCallTimeoutMicroseconds = 5'000'000;
// How long the desktop's services get to answer before the hold is reported anyway; a service
// answering later still gives its lock.
constexpr std::uint64_t settleMicroseconds = 2'000'000;
constexpr unsigned idleToolCheckEvery = 10;

/// `text` with control characters made spaces, so that it stays one line of a listing.
std::string printable(std::string text) {
    for (char& character : text) {
        if (static_cast<unsigned char>(character) < 0x20 || character == 0x7F) {
            character = ' ';
        }
    }
    return text;
}

/// Whether the display may sleep while the system is held awake.
enum class Posture { displayAwake, displayMaySleep };

std::optional<Posture> postureFromArguments(int argc, char** argv) {
    if (argc != 2) {
        return std::nullopt;
    }
    const std::string_view argument = argv[1];
    if (argument == "-dimsu") {
        return Posture::displayAwake;
    }
    if (argument == "-ims") {
        return Posture::displayMaySleep;
    }
    return std::nullopt;
}

void say(const std::string& line) {
    std::printf("stayloom-inhibit: %s\n", line.c_str());
    std::fflush(stdout);
}

void complain(const std::string& line) {
    std::fprintf(stderr, "stayloom-inhibit: %s\n", line.c_str());
}

/// Every lock this process holds; all of them end with the process even if it is killed.
class KeepAwakeHold {
public:
    KeepAwakeHold(Posture posture, std::string why, std::filesystem::path unitRoot)
        : posture_(posture), why_(std::move(why)), unitRoot_(std::move(unitRoot)),
          session_(posture == Posture::displayAwake, appId, this->why(), notes(),
                   [this] { update(); }),
          x11_(notes()) {}
    ~KeepAwakeHold() { release(); }
    KeepAwakeHold(const KeepAwakeHold&) = delete;
    KeepAwakeHold& operator=(const KeepAwakeHold&) = delete;

    /// Takes every lock available, the desktop's as their services answer on `event`; false
    /// when logind is there but refused the sleep lock.
    bool acquire(sd_event* event);
    /// Takes or drops the lid-switch lock so that it is held exactly while the sleep switch's own
    /// masks are in place.
    void followSleepTargetMask();
    /// Looks again for idle tools that may suspend the machine.
    void lookForIdleTools();
    /// Gives back every lock; safe to call twice.
    void release();
    /// True once the first answers of the desktop's services are in.
    bool settled() const { return session_.settled(); }
    /// Runs once, when the hold is first settled.
    std::function<void()> onSettled;

    sd_bus* systemBus() const { return systemBus_.get(); }

private:
    static HelperNotes notes() { return {say, complain}; }
    std::string why() const;
    const char* logindWhat() const {
        return posture_ == Posture::displayAwake ? "sleep:idle" : "sleep";
    }
    bool takeSleepLock();
    /// Follows what the session holds: the X server's own blanking while nothing else keeps the
    /// screen on, and the report for the program.
    void update();

    Posture posture_;
    /// The program's reason; empty when it gave none.
    std::string why_;
    std::filesystem::path unitRoot_;
    Bus systemBus_;
    UniqueFd sleepLock_;
    UniqueFd lidLock_;
    bool lidRefusalReported_ = false;
    /// Why the sleep switch's record was last refused, so that it is said once.
    std::string recordRefusal_;
    SessionInhibitorWatcher session_;
    X11BlankingGuard x11_;
    HoldFacts facts_;
    std::optional<std::filesystem::path> reportPath_;
    std::string lastReport_;
    std::string lastWarning_;
    bool released_ = false;
};

std::string KeepAwakeHold::why() const {
    if (!why_.empty()) {
        return why_;
    }
    return posture_ == Posture::displayAwake
               ? "Agents are working; keeping the computer and its display awake"
               : "Agents are working; keeping the computer awake";
}

bool KeepAwakeHold::acquire(sd_event* event) {
    if (!takeSleepLock()) {
        return false;
    }
    facts_.systemdVersion = systemdMajorVersion(systemBus_.get());
    if (const char* desktop = std::getenv("XDG_CURRENT_DESKTOP")) {
        facts_.desktop = printable(desktop);
    }
    reportPath_ = holdReportPath(::getpid());
    lookForIdleTools();
    session_.start(event);
    followSleepTargetMask();
    update();
    return true;
}

bool KeepAwakeHold::takeSleepLock() {
    BusFailure failure;
    systemBus_ = openSystemBus(failure);
    if (!systemBus_) {
        complain("warning: no system bus (" + failure.describe() +
                 "); nothing here can suspend the machine, holding anyway");
        return true;
    }
    sd_bus_set_method_call_timeout(systemBus_.get(), busCallTimeoutMicroseconds);
    auto lock = takeLogindBlockLock(systemBus_.get(), logindWhat(), who, why(), failure);
    if (!lock) {
        if (failure.isServiceAbsent()) {
            complain("warning: no logind on the system bus (" + failure.describe() +
                     "); nothing here can suspend the machine, holding anyway");
            systemBus_.reset();
            return true;
        }
        complain(std::string("logind refused the ") + logindWhat() +
                 " lock: " + failure.describe());
        return false;
    }
    sleepLock_ = std::move(*lock);
    facts_.logindKind = logindWhat();
    say(std::string("holding logind lock ") + logindWhat() + " (block)");
    return true;
}

void KeepAwakeHold::lookForIdleTools() {
    auto tools = runningIdleTools("/proc", ::getuid());
    if (tools != facts_.idleTools) {
        facts_.idleTools = std::move(tools);
        if (!released_) {
            update();
        }
    }
}

void KeepAwakeHold::update() {
    if (released_) {
        return;
    }
    // The display is the X server's own to blank where no session service keeps it on.
    if (posture_ == Posture::displayAwake && !session_.blankingServiceRuns()) {
        x11_.engage();
    } else {
        x11_.disengage();
    }
    facts_.sessionLocks = session_.locks();
    facts_.x11Held = x11_.engaged();
    const HoldAssessment assessment = assessHold(facts_);
    if (assessment.warning != lastWarning_) {
        lastWarning_ = assessment.warning;
        if (!lastWarning_.empty()) {
            complain("warning: " + lastWarning_);
        }
    }
    const std::string report = holdReportText(facts_, assessment);
    if (reportPath_ && report != lastReport_) {
        try {
            nodwarden::AtomicFile::write(*reportPath_, report);
            lastReport_ = report;
        } catch (const std::filesystem::filesystem_error& error) {
            complain(std::string("cannot write the hold report: ") + error.what());
            reportPath_.reset();
        }
    }
    if (onSettled && session_.settled()) {
        auto settled = std::move(onSettled);
        onSettled = nullptr;
        settled();
    }
}

void KeepAwakeHold::followSleepTargetMask() {
    if (!systemBus_) {
        return;
    }
    const auto record = readOwnMaskRecord(unitRoot_);
    if (record.refusal != recordRefusal_) {
        recordRefusal_ = record.refusal;
        if (!recordRefusal_.empty()) {
            complain(recordRefusal_);
        }
    }
    const bool masked = !ownMasksInPlace(unitRoot_, record).empty();
    if (masked && !lidLock_) {
        BusFailure failure;
        auto lock = takeLogindBlockLock(systemBus_.get(), "handle-lid-switch", who,
                                        "Sleep is switched off; closing the lid must not retry "
                                        "suspend",
                                        failure);
        if (lock) {
            lidLock_ = std::move(*lock);
            lidRefusalReported_ = false;
            say("holding logind lock handle-lid-switch (block): the sleep switch is off");
        } else if (!lidRefusalReported_) {
            lidRefusalReported_ = true;
            complain("logind refused the handle-lid-switch lock: " + failure.describe());
        }
    } else if (!masked) {
        lidRefusalReported_ = false;
        if (lidLock_) {
            lidLock_.reset();
            say("released logind lock handle-lid-switch: the sleep switch is on again");
        }
    }
}

void KeepAwakeHold::release() {
    released_ = true;
    onSettled = nullptr;
    session_.release();
    x11_.disengage();
    if (reportPath_) {
        ::unlink(reportPath_->c_str());
        reportPath_.reset();
    }
    if (systemBus_) {
        sd_bus_detach_event(systemBus_.get());
        systemBus_.reset();
    }
    lidLock_.reset();
    sleepLock_.reset();
}

int stopLoop(sd_event_source* source, const struct signalfd_siginfo*, void* userdata) {
    // Released here, not after the loop: leaving the loop closes the buses attached to it.
    static_cast<KeepAwakeHold*>(userdata)->release();
    return sd_event_exit(sd_event_source_get_event(source), 0);
}

int checkMask(sd_event_source* source, std::uint64_t, void* userdata) {
    auto& hold = *static_cast<KeepAwakeHold*>(userdata);
    hold.followSleepTargetMask();
    // An idle tool started after the helper changes what the hold is worth; it is rarely
    // started, so it is looked for seldom.
    static unsigned checks = 0;
    if (++checks % idleToolCheckEvery == 0) {
        hold.lookForIdleTools();
    }
    sd_event_source_set_time_relative(source, maskCheckIntervalMicroseconds);
    return sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
}

int settleTimeUp(sd_event_source*, std::uint64_t, void* userdata) {
    auto& hold = *static_cast<KeepAwakeHold*>(userdata);
    if (hold.onSettled) {
        auto settled = std::move(hold.onSettled);
        hold.onSettled = nullptr;
        settled();
    }
    return 0;
}

/// The reason the program gave for the hold, without control characters (each a space), so that
/// a listing stays one line per lock; empty when it gave none.
std::string reasonFromEnvironment() {
    const char* value = std::getenv("STAYLOOM_WHY");
    std::string why = value == nullptr ? std::string() : std::string(value);
    ::unsetenv("STAYLOOM_WHY");
    if (why.size() > whyLimit) {
        why.resize(whyLimit);
        // Never end inside a UTF-8 sequence.
        while (!why.empty() && (static_cast<unsigned char>(why.back()) & 0xC0) == 0x80) {
            why.pop_back();
        }
        if (!why.empty() && (static_cast<unsigned char>(why.back()) & 0x80) != 0) {
            why.pop_back();
        }
    }
    return printable(std::move(why));
}

/// Tells a waiting parent that every lock is held; without the variable nobody waits.
void reportReadiness() {
    const char* value = std::getenv("STAYLOOM_READY_FD");
    if (value == nullptr) {
        return;
    }
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    const bool valid = end != value && *end == '\0' && fd >= 3 && fd <= 1'000'000;
    ::unsetenv("STAYLOOM_READY_FD");
    if (!valid) {
        return;
    }
    static constexpr std::string_view ready = "READY=1\n";
    if (::write(static_cast<int>(fd), ready.data(), ready.size()) < 0) {
        complain(std::string("cannot report readiness: ") + std::strerror(errno));
    }
    ::close(static_cast<int>(fd));
}

/// The parent the helper serves, watched through a pidfd; none where the kernel has no pidfds,
/// and then the parent's death sends SIGTERM instead.
struct ParentWatch {
    UniqueFd pidfd;
};

/// Finds the program that started the helper; none when it is already gone. The parent is read
/// again after the watch is set up: had it died in between, the helper would have a new parent by
/// then, and the watch could be on a stranger.
std::optional<ParentWatch> watchParent() {
    const pid_t parent = ::getppid();
    if (const char* value = std::getenv("STAYLOOM_PARENT_PID")) {
        char* end = nullptr;
        const long expected = std::strtol(value, &end, 10);
        ::unsetenv("STAYLOOM_PARENT_PID");
        if (end == value || *end != '\0' || expected != parent) {
            return std::nullopt;
        }
    }
    ParentWatch watch;
    watch.pidfd = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, parent, 0)));
    if (!watch.pidfd) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    }
    if (::getppid() != parent) {
        return std::nullopt;
    }
    return watch;
}

int parentGone(sd_event_source* source, int, std::uint32_t, void* userdata) {
    complain("the program that started it has ended; releasing every lock");
    static_cast<KeepAwakeHold*>(userdata)->release();
    return sd_event_exit(sd_event_source_get_event(source), 0);
}

struct EventReleaser {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};

/// Takes the locks, says so once the desktop's services have answered (or were given their
/// time), then waits for SIGTERM, SIGINT or the parent's end, serving both buses and checking
/// the mask meanwhile. 1 when logind refused the lock.
int holdUntilSignalled(KeepAwakeHold& hold, const ParentWatch& parent) {
    sd_event* raw = nullptr;
    int code = sd_event_new(&raw);
    if (code < 0) {
        return code;
    }
    std::unique_ptr<sd_event, EventReleaser> event(raw);
    for (int signal : {SIGTERM, SIGINT}) {
        if ((code = sd_event_add_signal(raw, nullptr, signal, stopLoop, &hold)) < 0) {
            return code;
        }
    }
    if (parent.pidfd && (code = sd_event_add_io(raw, nullptr, parent.pidfd.get(), EPOLLIN,
                                                parentGone, &hold)) < 0) {
        return code;
    }
    if ((code = sd_event_add_time_relative(raw, nullptr, CLOCK_MONOTONIC,
                                           maskCheckIntervalMicroseconds, 0, checkMask, &hold)) <
        0) {
        return code;
    }
    hold.onSettled = [] {
        say("holding until SIGTERM or SIGINT");
        reportReadiness();
    };
    if (!hold.acquire(raw)) {
        return 1;
    }
    if (hold.systemBus() != nullptr &&
        (code = sd_bus_attach_event(hold.systemBus(), raw, SD_EVENT_PRIORITY_NORMAL)) < 0) {
        return code;
    }
    if (hold.onSettled &&
        (code = sd_event_add_time_relative(raw, nullptr, CLOCK_MONOTONIC, settleMicroseconds, 0,
                                           settleTimeUp, &hold)) < 0) {
        return code;
    }
    return sd_event_loop(raw);
}

} // namespace

int main(int argc, char** argv) {
    const auto posture = postureFromArguments(argc, argv);
    if (!posture) {
        std::fprintf(stderr, "usage: stayloom-inhibit -dimsu | -ims\n"
                             "  -dimsu  keep the system and the display awake\n"
                             "  -ims    keep the system awake; the display may sleep\n"
                             "Holds the locks until SIGTERM or SIGINT.\n");
        return 2;
    }

    // Blocked before any lock is taken, so a signal that arrives early still ends in a release.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto parent = watchParent();
    if (!parent) {
        complain("the program that started it has already ended; holding nothing");
        return 1;
    }
    KeepAwakeHold hold(*posture, reasonFromEnvironment(), unitLinkRoot());
    const int code = holdUntilSignalled(hold, *parent);
    hold.release();
    if (code == 1) {
        return 1;
    }
    if (code < 0) {
        complain(std::string("event loop failed: ") + std::strerror(-code));
        return 1;
    }
    say("released all locks");
    return 0;
}
