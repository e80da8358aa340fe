#include <NodwardenLinux/SystemBusLink.hpp>

#include <cstdlib>

#include <systemd/sd-bus.h>

namespace nodwarden::linuxplatform {

namespace {

/// What sd-bus itself would connect to: the variable when set, else the standard socket.
std::string systemBusAddress() {
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return address != nullptr ? address : "";
}

} // namespace

SystemBusLink& SystemBusLink::ofThisThread() {
    thread_local SystemBusLink link;
    return link;
}

SystemBusLink::~SystemBusLink() {
    drop();
}

sd_bus* SystemBusLink::bus() {
    if (bus_ != nullptr && systemBusAddress() != address_) {
        drop();
    }
    // A connection found closed is opened again at once: the bus (or its daemon) restarted.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (bus_ == nullptr) {
            address_ = systemBusAddress();
            if (sd_bus_open_system(&bus_) < 0) {
                bus_ = nullptr;
                return nullptr;
            }
            sd_bus_set_method_call_timeout(bus_, 1'000'000);
            ++generation_;
        }
        // Each message that waits is dispatched to its handler; a closed connection says so here.
        int status = 0;
        while ((status = sd_bus_process(bus_, nullptr)) > 0) {
        }
        if (status >= 0) {
            return bus_;
        }
        drop();
    }
    return nullptr;
}

void SystemBusLink::drop() {
    if (bus_ != nullptr) {
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;
    }
}

} // namespace nodwarden::linuxplatform
