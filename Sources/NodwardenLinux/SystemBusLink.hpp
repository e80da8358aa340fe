#pragma once

#include <cstdint>
#include <string>

struct sd_bus;

namespace nodwarden::linuxplatform {

/// One connection to the system bus per thread, kept open from one detection pass to the next
/// instead of one opened, greeted and closed for every question. A connection that fails, or a
/// system bus that moved (DBUS_SYSTEM_BUS_ADDRESS changed), is replaced at the next question.
/// Method calls on it are bounded to one second, so a wedged service cannot stall a pass.
/// Not shared between threads: each thread that asks has its own.
class SystemBusLink {
public:
    /// The calling thread's link.
    static SystemBusLink& ofThisThread();

    SystemBusLink() = default;
    ~SystemBusLink();
    SystemBusLink(const SystemBusLink&) = delete;
    SystemBusLink& operator=(const SystemBusLink&) = delete;

    /// The open connection, opened first when there is none; null when the bus cannot be reached.
    /// Takes in, without waiting, whatever arrived since the last question, so the signal
    /// handlers of its watchers have run before the caller reads what they recorded.
    sd_bus* bus();

    /// Closes the connection after a call on it failed in a way that may be the connection's.
    void drop();

    /// Counts the connections opened: a watcher that subscribed on an older one must subscribe
    /// again and read afresh what it missed meanwhile.
    std::uint64_t generation() const { return generation_; }

private:
    sd_bus* bus_ = nullptr;
    std::string address_;
    std::uint64_t generation_ = 0;
};

} // namespace nodwarden::linuxplatform
