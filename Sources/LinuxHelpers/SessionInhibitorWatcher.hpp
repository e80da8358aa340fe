#pragma once

#include "BusSupport.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <systemd/sd-event.h>

namespace stayloom::helpers {

/// How the helper's components speak: `say` for what they do, `complain` for what went wrong.
struct HelperNotes {
    std::function<void(const std::string&)> say;
    std::function<void(const std::string&)> complain;
};

/// One desktop inhibitor as the helper holds it, or would once its service runs.
struct SessionLockState {
    /// The well-known bus name ("org.freedesktop.PowerManagement").
    std::string service;
    /// What it stops: "suspend", "suspend|idle" or "idle".
    std::string kind;
    bool held = false;
    /// Asked and not answered yet.
    bool pending = false;
};

struct SlotReleaser {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotReleaser>;

/// Holds the session's own inhibitors and keeps holding them while the desktop's services come
/// and go: every service is followed by its NameOwnerChanged, and one that appears, returns or
/// changes hands is asked again at once. A lock a service drops while running is taken again.
///
/// Every call to a service is asynchronous, so a service that never answers holds up nothing,
/// and giving the locks back only sends; the connection's end releases them in any case.
class SessionInhibitorWatcher {
public:
    /// `changed` runs whenever what is held, or which services run, changes.
    SessionInhibitorWatcher(bool keepDisplayOn, std::string appId, std::string why,
                            HelperNotes notes, std::function<void()> changed);
    ~SessionInhibitorWatcher();
    SessionInhibitorWatcher(const SessionInhibitorWatcher&) = delete;
    SessionInhibitorWatcher& operator=(const SessionInhibitorWatcher&) = delete;

    /// Connects to the session bus on `event` and asks every running service; false when there
    /// is no session bus (said once).
    bool start(sd_event* event);
    /// True once no first answer is outstanding.
    bool settled() const;
    /// The locks wanted from the services that run now, held or not.
    std::vector<SessionLockState> locks() const;
    /// Whether a session service keeps the screen from blanking while asked (a screensaver, or
    /// GNOME's session, whose idle flag does).
    bool blankingServiceRuns() const;
    /// Whether the session bus is there at all.
    bool connected() const { return bus_ != nullptr && !busGone_; }
    /// Gives every lock back without waiting for an answer; safe to call twice.
    void release();

    /// One watched service; public for the bus callbacks only.
    struct Entry;

private:
    friend struct Entry;
    void ownerChanged(Entry& entry, const std::string& oldOwner, const std::string& newOwner);
    void reconcile();
    bool wanted(const Entry& entry) const;
    void ask(Entry& entry);
    void answered(Entry& entry, sd_bus_message* reply);
    void dropped(Entry& entry);
    void giveBack(Entry& entry);
    void busDisconnected();
    bool owned(std::size_t index) const;
    static int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onReply(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onDropSignal(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onStillHeld(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onFilter(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onRetry(sd_event_source* source, std::uint64_t usec, void* userdata);

    bool keepDisplayOn_;
    std::string appId_;
    std::string why_;
    HelperNotes notes_;
    std::function<void()> changed_;
    sd_event* event_ = nullptr;
    Bus bus_;
    Slot filter_;
    bool busGone_ = false;
    std::array<std::unique_ptr<Entry>, 4> entries_;
};

} // namespace stayloom::helpers
