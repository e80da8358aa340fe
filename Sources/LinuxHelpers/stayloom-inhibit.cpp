// Holds the machine awake while it runs, for as long as the parent wants: until SIGTERM or SIGINT.
//
// No single inhibitor is honoured by every desktop, and before systemd 257 logind lets a user's own
// suspend requests (the desktop's idle suspend, the Suspend menu) pass its block locks. So the
// locks are stacked: a logind block lock, plus the desktop session's own inhibitor. While the sleep
// switch's own masks are in place, a lid-switch lock keeps logind from retrying suspend in a loop;
// masks an administrator made are theirs, and a plain keep-awake must not change what closing the
// lid does.
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
#include "SleepTargets.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

/// A desktop session service that hands out inhibitor cookies.
struct SessionInhibitorService {
    /// gnome-session's Inhibit takes a window and flags; the freedesktop ones take neither.
    bool takesFlags;
    const char* label;
    const char* service;
    const char* path;
    const char* interface;
    const char* releaseMethod;
};

constexpr SessionInhibitorService gnomeSession{
    .takesFlags = true,
    .label = "GNOME session inhibitor",
    .service = "org.gnome.SessionManager",
    .path = "/org/gnome/SessionManager",
    .interface = "org.gnome.SessionManager",
    .releaseMethod = "Uninhibit",
};
constexpr SessionInhibitorService powerManagement{
    .takesFlags = false,
    .label = "freedesktop PowerManagement inhibitor",
    .service = "org.freedesktop.PowerManagement",
    .path = "/org/freedesktop/PowerManagement/Inhibit",
    .interface = "org.freedesktop.PowerManagement.Inhibit",
    .releaseMethod = "UnInhibit",
};
constexpr SessionInhibitorService screenSaver{
    .takesFlags = false,
    .label = "freedesktop ScreenSaver inhibitor",
    .service = "org.freedesktop.ScreenSaver",
    .path = "/org/freedesktop/ScreenSaver",
    .interface = "org.freedesktop.ScreenSaver",
    .releaseMethod = "UnInhibit",
};

// gnome-session's inhibit flags.
constexpr std::uint32_t gnomeInhibitSuspend = 4;
constexpr std::uint32_t gnomeInhibitIdle = 8;

struct HeldCookie {
    const SessionInhibitorService* service;
    std::uint32_t cookie;
};

/// Every lock this process holds; all of them end with the process even if it is killed.
class KeepAwakeHold {
public:
    KeepAwakeHold(Posture posture, std::string why, std::filesystem::path unitRoot)
        : posture_(posture), why_(std::move(why)), unitRoot_(std::move(unitRoot)) {}
    ~KeepAwakeHold() { release(); }
    KeepAwakeHold(const KeepAwakeHold&) = delete;
    KeepAwakeHold& operator=(const KeepAwakeHold&) = delete;

    /// Takes every lock available; false when logind is there but refused the sleep lock.
    bool acquire();
    /// Takes or drops the lid-switch lock so that it is held exactly while the sleep switch's own
    /// masks are in place.
    void followSleepTargetMask();
    /// Gives back every lock; safe to call twice.
    void release();

    sd_bus* systemBus() const { return systemBus_.get(); }
    sd_bus* sessionBus() const { return sessionBus_.get(); }

private:
    std::string why() const;
    bool takeSleepLock();
    void takeSessionInhibitors();
    bool takeSessionInhibitor(const SessionInhibitorService& service);

    Posture posture_;
    /// The program's reason; empty when it gave none.
    std::string why_;
    std::filesystem::path unitRoot_;
    Bus systemBus_;
    Bus sessionBus_;
    UniqueFd sleepLock_;
    UniqueFd lidLock_;
    bool lidRefusalReported_ = false;
    /// Why the sleep switch's record was last refused, so that it is said once.
    std::string recordRefusal_;
    std::vector<HeldCookie> cookies_;
};

std::string KeepAwakeHold::why() const {
    if (!why_.empty()) {
        return why_;
    }
    return posture_ == Posture::displayAwake
               ? "Agents are working; keeping the computer and its display awake"
               : "Agents are working; keeping the computer awake";
}

bool KeepAwakeHold::acquire() {
    if (!takeSleepLock()) {
        return false;
    }
    takeSessionInhibitors();
    followSleepTargetMask();
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
    auto lock = takeLogindBlockLock(systemBus_.get(), "sleep:idle", who, why(), failure);
    if (!lock) {
        if (failure.isServiceAbsent()) {
            complain("warning: no logind on the system bus (" + failure.describe() +
                     "); nothing here can suspend the machine, holding anyway");
            systemBus_.reset();
            return true;
        }
        complain("logind refused the sleep:idle lock: " + failure.describe());
        return false;
    }
    sleepLock_ = std::move(*lock);
    say("holding logind lock sleep:idle (block)");
    return true;
}

void KeepAwakeHold::takeSessionInhibitors() {
    BusFailure failure;
    sessionBus_ = openSessionBus(failure);
    if (!sessionBus_) {
        complain("note: no session bus (" + failure.describe() +
                 "); holding without a desktop inhibitor");
        return;
    }
    sd_bus_set_method_call_timeout(sessionBus_.get(), busCallTimeoutMicroseconds);
    if (takeSessionInhibitor(gnomeSession)) {
        return;
    }
    bool any = takeSessionInhibitor(powerManagement);
    if (posture_ == Posture::displayAwake) {
        any = takeSessionInhibitor(screenSaver) || any;
    }
    if (!any) {
        complain("note: no desktop inhibitor service on the session bus");
    }
}

bool KeepAwakeHold::takeSessionInhibitor(const SessionInhibitorService& service) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int code;
    std::string label = service.label;
    if (service.takesFlags) {
        // Letting the display sleep means leaving the session free to go idle.
        const std::uint32_t flags = posture_ == Posture::displayAwake
                                        ? gnomeInhibitSuspend | gnomeInhibitIdle
                                        : gnomeInhibitSuspend;
        code = sd_bus_call_method(sessionBus_.get(), service.service, service.path,
                                  service.interface, "Inhibit", &error, &reply, "susu", appId,
                                  std::uint32_t{0}, why().c_str(), flags);
        label += flags & gnomeInhibitIdle ? " (suspend|idle)" : " (suspend)";
    } else {
        code =
            sd_bus_call_method(sessionBus_.get(), service.service, service.path, service.interface,
                               "Inhibit", &error, &reply, "ss", appId, why().c_str());
    }
    Message owned(reply);
    if (code < 0) {
        const auto failure = BusFailure::from(code, &error);
        sd_bus_error_free(&error);
        if (!failure.isServiceAbsent() &&
            failure.name != "org.freedesktop.DBus.Error.UnknownMethod" &&
            failure.name != "org.freedesktop.DBus.Error.UnknownObject") {
            complain(std::string(service.label) + " refused: " + failure.describe());
        }
        return false;
    }
    std::uint32_t cookie = 0;
    if (sd_bus_message_read(reply, "u", &cookie) < 0) {
        complain(std::string(service.label) + " gave an unreadable reply");
        return false;
    }
    cookies_.push_back({&service, cookie});
    say("holding " + label);
    return true;
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
    for (const auto& held : cookies_) {
        // Disconnecting would end these too; asking explicitly ends them without relying on
        // the session service noticing the disconnect.
        sd_bus_call_method(sessionBus_.get(), held.service->service, held.service->path,
                           held.service->interface, held.service->releaseMethod, nullptr, nullptr,
                           "u", held.cookie);
    }
    cookies_.clear();
    for (Bus* bus : {&sessionBus_, &systemBus_}) {
        if (*bus) {
            sd_bus_detach_event(bus->get());
            bus->reset();
        }
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
    static_cast<KeepAwakeHold*>(userdata)->followSleepTargetMask();
    sd_event_source_set_time_relative(source, maskCheckIntervalMicroseconds);
    return sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
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
    for (char& character : why) {
        if (static_cast<unsigned char>(character) < 0x20 || character == 0x7F) {
            character = ' ';
        }
    }
    return why;
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

/// Waits for SIGTERM, SIGINT or the parent's end, serving both buses and checking the mask
/// meanwhile.
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
    for (sd_bus* bus : {hold.systemBus(), hold.sessionBus()}) {
        if (bus != nullptr &&
            (code = sd_bus_attach_event(bus, raw, SD_EVENT_PRIORITY_NORMAL)) < 0) {
            return code;
        }
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
    if (!hold.acquire()) {
        return 1;
    }
    say("holding until SIGTERM or SIGINT");
    reportReadiness();
    const int code = holdUntilSignalled(hold, *parent);
    hold.release();
    if (code < 0) {
        complain(std::string("event loop failed: ") + std::strerror(-code));
        return 1;
    }
    say("released all locks");
    return 0;
}
