#include <NodwardenLinux/FreedesktopNotifications.hpp>

#include <cstring>

#include <systemd/sd-bus.h>

namespace nodwarden::linuxplatform {

namespace {

constexpr const char* appName = "Stayloom";
/// The desktop file's id: the desktop shows its icon and groups the notices under it.
constexpr const char* desktopEntry = "org.stayloom.Stayloom";
constexpr std::uint64_t callTimeoutMicroseconds = 5'000'000;

std::string describe(int code, const sd_bus_error* error) {
    if (error != nullptr && sd_bus_error_is_set(error)) {
        return std::string(error->name) +
               (error->message ? std::string(": ") + error->message : "");
    }
    return std::strerror(-code);
}

} // namespace

void FreedesktopNotifications::BusReleaser::operator()(sd_bus* bus) const {
    sd_bus_flush_close_unref(bus);
}

FreedesktopNotifications::FreedesktopNotifications() = default;
FreedesktopNotifications::~FreedesktopNotifications() = default;

FreedesktopNotifications::Result FreedesktopNotifications::show(const std::string& summary,
                                                                const std::string& body) {
    if (noBus_) {
        return {Outcome::noSessionBus, {}};
    }
    if (!bus_) {
        sd_bus* opened = nullptr;
        const int code = sd_bus_open_user(&opened);
        if (code < 0) {
            noBus_ = true;
            return {Outcome::noSessionBus, std::strerror(-code)};
        }
        bus_.reset(opened);
        sd_bus_set_method_call_timeout(opened, callTimeoutMicroseconds);
    }

    sd_bus_message* call = nullptr;
    int code = sd_bus_message_new_method_call(bus_.get(), &call, "org.freedesktop.Notifications",
                                              "/org/freedesktop/Notifications",
                                              "org.freedesktop.Notifications", "Notify");
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    if (code >= 0) {
        code = sd_bus_message_append(call, "susss", appName, lastId_, desktopEntry, summary.c_str(),
                                     body.c_str());
    }
    if (code >= 0) {
        code = sd_bus_message_append(call, "as", 0);
    }
    if (code >= 0) {
        code = sd_bus_message_append(call, "a{sv}", 1, "desktop-entry", "s", desktopEntry);
    }
    if (code >= 0) {
        code = sd_bus_message_append(call, "i", std::int32_t{-1});
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (code >= 0) {
        code = sd_bus_call(bus_.get(), call, 0, &error, &reply);
    }
    sd_bus_message_unref(call);
    Result result{Outcome::shown, {}};
    std::uint32_t id = 0;
    if (code >= 0) {
        code = sd_bus_message_read(reply, "u", &id);
    }
    if (code < 0) {
        result = {Outcome::failed, describe(code, &error)};
        // A broken connection is opened afresh next time.
        if (!sd_bus_is_open(bus_.get())) {
            bus_.reset();
        }
    } else {
        lastId_ = id;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return result;
}

} // namespace nodwarden::linuxplatform
