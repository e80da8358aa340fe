#include "SessionInhibitorWatcher.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

namespace stayloom::helpers {

namespace {

enum class Signature { gnome, freedesktop, portal };

/// A desktop session service that hands out inhibitors.
struct ServiceSpec {
    Signature signature;
    const char* label;
    const char* service;
    const char* path;
    const char* interface;
    const char* releaseMethod;
    /// A signal after which the service may have dropped our lock; none when it has no such.
    const char* dropSignal;
};

// In the order of `entries_`, which `wanted` relies on; the portal comes last.
constexpr std::size_t gnomeIndex = 0;
constexpr std::size_t powerManagementIndex = 1;
constexpr std::size_t screenSaverIndex = 2;

constexpr std::array<ServiceSpec, 4> services{{
    {Signature::gnome, "GNOME session inhibitor", "org.gnome.SessionManager",
     "/org/gnome/SessionManager", "org.gnome.SessionManager", "Uninhibit", "InhibitorRemoved"},
    {Signature::freedesktop, "freedesktop PowerManagement inhibitor",
     "org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit",
     "org.freedesktop.PowerManagement.Inhibit", "UnInhibit", "HasInhibitChanged"},
    {Signature::freedesktop, "freedesktop ScreenSaver inhibitor", "org.freedesktop.ScreenSaver",
     "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "UnInhibit", nullptr},
    {Signature::portal, "desktop portal inhibitor", "org.freedesktop.portal.Desktop",
     "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Inhibit", nullptr, nullptr},
}};

// The flags gnome-session and the portal share.
constexpr std::uint32_t inhibitSuspend = 4;
constexpr std::uint32_t inhibitIdle = 8;

// Well inside the time the parent waits for readiness, so a slow service ends in an answer.
constexpr std::uint64_t callTimeoutMicroseconds = 5'000'000;
constexpr std::uint64_t ownerLookupTimeoutMicroseconds = 1'000'000;
/// A service that keeps dropping our lock is left alone after this many drops.
constexpr int dropLimit = 5;
/// A service may take its name before its object answers; it is asked again this often.
constexpr int notReadyRetries = 3;
constexpr std::uint64_t notReadyRetryMicroseconds = 500'000;

bool isNotReady(const BusFailure& failure) {
    return failure.name == "org.freedesktop.DBus.Error.UnknownMethod" ||
           failure.name == "org.freedesktop.DBus.Error.UnknownObject" ||
           failure.name == "org.freedesktop.DBus.Error.UnknownInterface";
}

} // namespace

struct SessionInhibitorWatcher::Entry {
    SessionInhibitorWatcher* watcher = nullptr;
    const ServiceSpec* described = nullptr;
    std::size_t index = 0;
    std::string owner;
    bool held = false;
    std::uint32_t cookie = 0;
    /// The portal's request object, which ends the lock when closed.
    std::string handle;
    Slot pending;
    Slot check;
    Slot ownerMatch;
    Slot dropMatch;
    /// The current owner refused or never answered: asked again only once the owner changes.
    bool failed = false;
    int drops = 0;
    int retries = 0;
    /// The timer of a retry after the service was not ready.
    sd_event_source* retry = nullptr;

    void cancelRetry() { retry = sd_event_source_disable_unref(retry); }
};

SessionInhibitorWatcher::SessionInhibitorWatcher(bool keepDisplayOn, std::string appId,
                                                 std::string why, HelperNotes notes,
                                                 std::function<void()> changed)
    : keepDisplayOn_(keepDisplayOn), appId_(std::move(appId)), why_(std::move(why)),
      notes_(std::move(notes)), changed_(std::move(changed)) {
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        entries_[index] = std::make_unique<Entry>();
        entries_[index]->watcher = this;
        entries_[index]->described = &services[index];
        entries_[index]->index = index;
    }
}

SessionInhibitorWatcher::~SessionInhibitorWatcher() {
    release();
}

bool SessionInhibitorWatcher::start(sd_event* event) {
    event_ = event;
    BusFailure failure;
    bus_ = openSessionBus(failure);
    if (!bus_) {
        notes_.complain("note: no session bus (" + failure.describe() +
                        "); holding without a desktop inhibitor");
        return false;
    }
    sd_bus_set_exit_on_disconnect(bus_.get(), 0);
    sd_bus_set_method_call_timeout(bus_.get(), callTimeoutMicroseconds);
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_filter(bus_.get(), &slot, onFilter, this) >= 0) {
        filter_.reset(slot);
    }
    for (auto& entry : entries_) {
        // Watched before the owner is looked up, so no change falls between the two.
        const std::string rule = std::string("type='signal',sender='org.freedesktop.DBus',"
                                             "interface='org.freedesktop.DBus',"
                                             "member='NameOwnerChanged',arg0='") +
                                 entry->described->service + "'";
        slot = nullptr;
        if (sd_bus_add_match(bus_.get(), &slot, rule.c_str(), onOwnerChanged, entry.get()) >= 0) {
            entry->ownerMatch.reset(slot);
        }
        if (entry->described->dropSignal != nullptr) {
            slot = nullptr;
            if (sd_bus_match_signal(bus_.get(), &slot, entry->described->service,
                                    entry->described->path, entry->described->interface,
                                    entry->described->dropSignal, onDropSignal, entry.get()) >= 0) {
                entry->dropMatch.reset(slot);
            }
        }
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        sd_bus_message* call = nullptr;
        const char* owner = nullptr;
        if (sd_bus_message_new_method_call(bus_.get(), &call, "org.freedesktop.DBus",
                                           "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                           "GetNameOwner") >= 0) {
            Message ownedCall(call);
            if (sd_bus_message_append(call, "s", entry->described->service) >= 0 &&
                sd_bus_call(bus_.get(), call, ownerLookupTimeoutMicroseconds, &error, &reply) >=
                    0) {
                Message ownedReply(reply);
                if (sd_bus_message_read(reply, "s", &owner) >= 0 && owner != nullptr) {
                    entry->owner = owner;
                }
            }
        }
        sd_bus_error_free(&error);
    }
    if (sd_bus_attach_event(bus_.get(), event, SD_EVENT_PRIORITY_NORMAL) < 0) {
        notes_.complain("note: cannot follow the session bus; holding without a desktop "
                        "inhibitor");
        bus_.reset();
        return false;
    }
    reconcile();
    bool any = false;
    for (const auto& entry : entries_) {
        any = any || !entry->owner.empty();
    }
    if (!any) {
        notes_.complain("note: no desktop inhibitor service on the session bus yet; taking one "
                        "as soon as it appears");
    }
    return true;
}

bool SessionInhibitorWatcher::settled() const {
    for (const auto& entry : entries_) {
        if (entry->pending || entry->retry != nullptr) {
            return false;
        }
    }
    return true;
}

bool SessionInhibitorWatcher::owned(std::size_t index) const {
    return connected() && !entries_[index]->owner.empty();
}

bool SessionInhibitorWatcher::wanted(const Entry& entry) const {
    // GNOME's own inhibitor speaks for its whole session; elsewhere the power manager stops
    // suspend, the screensaver stops blanking, and the portal stands in where neither runs.
    const std::size_t index = entry.index;
    if (!owned(index)) {
        return false;
    }
    const bool gnome = owned(gnomeIndex);
    switch (index) {
    case gnomeIndex:
        return true;
    case powerManagementIndex:
        return !gnome;
    case screenSaverIndex:
        return !gnome && keepDisplayOn_;
    default:
        return !gnome && !owned(powerManagementIndex);
    }
}

std::vector<SessionLockState> SessionInhibitorWatcher::locks() const {
    std::vector<SessionLockState> states;
    for (const auto& entry : entries_) {
        if (!wanted(*entry) && !entry->held) {
            continue;
        }
        std::string kind = "suspend";
        if (entry->described->signature != Signature::freedesktop) {
            kind = keepDisplayOn_ ? "suspend|idle" : "suspend";
        } else if (entry->index == screenSaverIndex) {
            kind = "idle";
        }
        states.push_back({entry->described->service, kind, entry->held,
                          entry->pending != nullptr || entry->retry != nullptr});
    }
    return states;
}

bool SessionInhibitorWatcher::blankingServiceRuns() const {
    return owned(screenSaverIndex) || owned(gnomeIndex);
}

void SessionInhibitorWatcher::reconcile() {
    for (auto& entry : entries_) {
        const bool want = wanted(*entry);
        if (want && !entry->held && !entry->pending && !entry->failed && !entry->retry) {
            ask(*entry);
        } else if (!want && entry->held) {
            giveBack(*entry);
            notes_.say(std::string("released ") + entry->described->label +
                       ": another service speaks for the session now");
        }
    }
}

void SessionInhibitorWatcher::ask(Entry& entry) {
    const ServiceSpec& described = *entry.described;
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus_.get(), &raw, described.service, described.path,
                                       described.interface, "Inhibit") < 0) {
        return;
    }
    Message call(raw);
    // A service that is not running is not started for us: its appearance is what we wait for.
    sd_bus_message_set_auto_start(call.get(), 0);
    const std::uint32_t flags = keepDisplayOn_ ? inhibitSuspend | inhibitIdle : inhibitSuspend;
    int code = 0;
    switch (described.signature) {
    case Signature::gnome:
        code = sd_bus_message_append(call.get(), "susu", appId_.c_str(), std::uint32_t{0},
                                     why_.c_str(), flags);
        break;
    case Signature::freedesktop:
        code = sd_bus_message_append(call.get(), "ss", appId_.c_str(), why_.c_str());
        break;
    case Signature::portal:
        code = sd_bus_message_append(call.get(), "su", "", flags);
        if (code >= 0) {
            code = sd_bus_message_append(call.get(), "a{sv}", 1, "reason", "s", why_.c_str());
        }
        break;
    }
    if (code < 0) {
        return;
    }
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_async(bus_.get(), &slot, call.get(), onReply, &entry, 0) >= 0) {
        entry.pending.reset(slot);
    }
}

void SessionInhibitorWatcher::answered(Entry& entry, sd_bus_message* reply) {
    entry.pending.reset();
    const ServiceSpec& described = *entry.described;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        const sd_bus_error* error = sd_bus_message_get_error(reply);
        const auto failure = BusFailure::from(-EIO, error);
        if (isNotReady(failure) && entry.retries < notReadyRetries && event_ != nullptr) {
            ++entry.retries;
            sd_event_add_time_relative(event_, &entry.retry, CLOCK_MONOTONIC,
                                       notReadyRetryMicroseconds, 0, onRetry, &entry);
            return;
        }
        // Gone between its appearance and our call: its return is what we wait for.
        if (!failure.isServiceAbsent()) {
            entry.failed = true;
            if (failure.name == "org.freedesktop.DBus.Error.NoReply" ||
                failure.name == "org.freedesktop.DBus.Error.Timeout") {
                notes_.complain(std::string(described.label) +
                                " did not answer; holding without it until it restarts");
            } else {
                notes_.complain(std::string(described.label) + " refused: " + failure.describe());
            }
        }
        changed_();
        return;
    }
    int code = 0;
    if (described.signature == Signature::portal) {
        const char* handle = nullptr;
        code = sd_bus_message_read(reply, "o", &handle);
        if (code >= 0 && handle != nullptr) {
            entry.handle = handle;
        }
    } else {
        code = sd_bus_message_read(reply, "u", &entry.cookie);
    }
    if (code < 0) {
        entry.failed = true;
        notes_.complain(std::string(described.label) + " gave an unreadable reply");
        changed_();
        return;
    }
    entry.held = true;
    if (!wanted(entry)) {
        giveBack(entry);
    } else {
        const bool flagged = described.signature != Signature::freedesktop;
        notes_.say(std::string("holding ") + described.label +
                   (flagged ? (keepDisplayOn_ ? " (suspend|idle)" : " (suspend)") : ""));
    }
    changed_();
}

void SessionInhibitorWatcher::ownerChanged(Entry& entry, const std::string& oldOwner,
                                           const std::string& newOwner) {
    if (newOwner == entry.owner) {
        return;
    }
    entry.owner = newOwner;
    // The old owner's lock ended with it; the new one has never heard of our cookie.
    entry.held = false;
    entry.cookie = 0;
    entry.handle.clear();
    entry.pending.reset();
    entry.check.reset();
    entry.cancelRetry();
    entry.failed = false;
    entry.drops = 0;
    entry.retries = 0;
    const std::string label = entry.described->label;
    if (newOwner.empty()) {
        notes_.complain(label + ": " + entry.described->service +
                        " left the session bus; taking its lock again when it returns");
    } else if (oldOwner.empty()) {
        notes_.say(label + ": " + entry.described->service + " appeared on the session bus");
    } else {
        notes_.say(label + ": " + entry.described->service + " changed hands on the session bus");
    }
    reconcile();
    changed_();
}

void SessionInhibitorWatcher::dropped(Entry& entry) {
    entry.held = false;
    entry.cookie = 0;
    if (++entry.drops >= dropLimit) {
        entry.failed = true;
        notes_.complain(std::string(entry.described->label) +
                        " keeps dropping Stayloom's lock; holding without it until it restarts");
    } else if (entry.drops == 1) {
        notes_.complain(std::string(entry.described->label) +
                        " dropped Stayloom's lock; taking it again");
    }
    reconcile();
    changed_();
}

void SessionInhibitorWatcher::giveBack(Entry& entry) {
    const ServiceSpec& described = *entry.described;
    entry.held = false;
    entry.check.reset();
    if (!bus_ || busGone_) {
        return;
    }
    sd_bus_message* raw = nullptr;
    int code = 0;
    if (described.signature == Signature::portal) {
        if (entry.handle.empty()) {
            return;
        }
        code = sd_bus_message_new_method_call(bus_.get(), &raw, described.service,
                                              entry.handle.c_str(),
                                              "org.freedesktop.portal.Request", "Close");
    } else {
        code = sd_bus_message_new_method_call(bus_.get(), &raw, described.service, described.path,
                                              described.interface, described.releaseMethod);
    }
    if (code < 0) {
        return;
    }
    Message call(raw);
    if (described.signature != Signature::portal &&
        sd_bus_message_append(call.get(), "u", entry.cookie) < 0) {
        return;
    }
    // Sent, never waited for: a service that does not answer must not hold up the release.
    sd_bus_message_set_expect_reply(call.get(), 0);
    sd_bus_message_set_auto_start(call.get(), 0);
    sd_bus_send(bus_.get(), call.get(), nullptr);
    entry.handle.clear();
    entry.cookie = 0;
}

void SessionInhibitorWatcher::busDisconnected() {
    if (busGone_) {
        return;
    }
    busGone_ = true;
    notes_.complain("the session bus has gone; the desktop inhibitors went with it, the logind "
                    "lock holds on");
    for (auto& entry : entries_) {
        entry->held = false;
        entry->owner.clear();
        entry->pending.reset();
        entry->check.reset();
        entry->cancelRetry();
    }
    changed_();
}

void SessionInhibitorWatcher::release() {
    for (auto& entry : entries_) {
        entry->pending.reset();
        entry->cancelRetry();
        if (entry->held) {
            giveBack(*entry);
        }
        entry->check.reset();
        entry->ownerMatch.reset();
        entry->dropMatch.reset();
    }
    filter_.reset();
    if (bus_) {
        sd_bus_detach_event(bus_.get());
        // Flushing writes what was sent; closing the connection would end the locks anyway.
        bus_.reset();
    }
}

int SessionInhibitorWatcher::onOwnerChanged(sd_bus_message* message, void* userdata,
                                            sd_bus_error*) {
    auto& entry = *static_cast<Entry*>(userdata);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0 || name == nullptr ||
        std::strcmp(name, entry.described->service) != 0) {
        return 0;
    }
    entry.watcher->ownerChanged(entry, oldOwner != nullptr ? oldOwner : "",
                                newOwner != nullptr ? newOwner : "");
    return 0;
}

int SessionInhibitorWatcher::onReply(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto& entry = *static_cast<Entry*>(userdata);
    entry.watcher->answered(entry, message);
    return 0;
}

int SessionInhibitorWatcher::onDropSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto& entry = *static_cast<Entry*>(userdata);
    SessionInhibitorWatcher& watcher = *entry.watcher;
    if (!entry.held || !watcher.bus_) {
        return 0;
    }
    if (entry.described->signature == Signature::freedesktop) {
        // PowerManagement says outright whether any inhibitor is left.
        int hasInhibit = 1;
        if (sd_bus_message_read(message, "b", &hasInhibit) >= 0 && hasInhibit == 0) {
            watcher.dropped(entry);
        }
        return 0;
    }
    // gnome-session names only the inhibitor object that went; ask whether ours still counts.
    const std::uint32_t flags =
        watcher.keepDisplayOn_ ? inhibitSuspend | inhibitIdle : inhibitSuspend;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_method_async(watcher.bus_.get(), &slot, entry.described->service,
                                 entry.described->path, entry.described->interface, "IsInhibited",
                                 onStillHeld, &entry, "u", flags) >= 0) {
        entry.check.reset(slot);
    }
    return 0;
}

int SessionInhibitorWatcher::onStillHeld(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto& entry = *static_cast<Entry*>(userdata);
    entry.check.reset();
    int inhibited = 1;
    if (!sd_bus_message_is_method_error(message, nullptr) &&
        sd_bus_message_read(message, "b", &inhibited) >= 0 && inhibited == 0 && entry.held) {
        entry.watcher->dropped(entry);
    }
    return 0;
}

int SessionInhibitorWatcher::onRetry(sd_event_source*, std::uint64_t, void* userdata) {
    auto& entry = *static_cast<Entry*>(userdata);
    entry.cancelRetry();
    entry.watcher->reconcile();
    return 0;
}

int SessionInhibitorWatcher::onFilter(sd_bus_message* message, void* userdata, sd_bus_error*) {
    if (sd_bus_message_is_signal(message, "org.freedesktop.DBus.Local", "Disconnected")) {
        static_cast<SessionInhibitorWatcher*>(userdata)->busDisconnected();
    }
    return 0;
}

} // namespace stayloom::helpers
