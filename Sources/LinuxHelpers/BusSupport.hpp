#pragma once

#include <NodwardenCore/system/UniqueFd.hpp>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <systemd/sd-bus.h>

namespace stayloom::helpers {

using nodwarden::UniqueFd;

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
/// An owned bus connection, flushed and closed on destruction.
using Bus = std::unique_ptr<sd_bus, BusCloser>;

struct MessageReleaser {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageReleaser>;

/// Why a bus operation failed: the D-Bus error name (empty for a local failure) and its text.
struct BusFailure {
    std::string name;
    std::string message;

    /// "message (name)", or the message alone for a local failure.
    std::string describe() const;
    /// True when nobody provides the called service: not running, not activatable, or its
    /// activation failed (as on machines without a service manager).
    bool isServiceAbsent() const;

    /// Converts an sd-bus return code and error into a failure.
    static BusFailure from(int code, const sd_bus_error* error);
};

/// Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set); null with `failure` filled in.
Bus openSystemBus(BusFailure& failure);
/// Connects to the session bus (DBUS_SESSION_BUS_ADDRESS when set); null with `failure` filled in.
Bus openSessionBus(BusFailure& failure);

/// The login manager's well-known name, object and interface.
inline constexpr const char* logindService = "org.freedesktop.login1";
inline constexpr const char* logindPath = "/org/freedesktop/login1";
inline constexpr const char* logindManager = "org.freedesktop.login1.Manager";

/// Takes a logind inhibitor lock in "block" mode; the descriptor is the lock, closing it releases
/// it.
std::optional<UniqueFd> takeLogindBlockLock(sd_bus* bus, const std::string& what,
                                            const std::string& who, const std::string& why,
                                            BusFailure& failure);

} // namespace stayloom::helpers
