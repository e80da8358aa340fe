#include <NodwardenLinux/FreedesktopNotifications.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <poll.h>
#include <systemd/sd-bus.h>

namespace nodwarden::linuxplatform {

namespace {

constexpr const char* appName = "Stayloom";
/// The desktop file's id: the desktop shows its icon and groups the notices under it.
constexpr const char* desktopEntry = "org.stayloom.Stayloom";
constexpr std::uint64_t callTimeoutMicroseconds = 5'000'000;
constexpr const char* notificationService = "org.freedesktop.Notifications";
constexpr const char* notificationPath = "/org/freedesktop/Notifications";
constexpr const char* notificationInterface = "org.freedesktop.Notifications";

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

bool FreedesktopNotifications::offersActions() {
    if (offersActions_) {
        return *offersActions_;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    char** capabilities = nullptr;
    bool found = false;
    if (sd_bus_call_method(bus_.get(), notificationService, notificationPath, notificationInterface,
                           "GetCapabilities", &error, &reply, "") >= 0 &&
        sd_bus_message_read_strv(reply, &capabilities) >= 0 && capabilities != nullptr) {
        for (char** each = capabilities; *each != nullptr; ++each) {
            found = found || std::strcmp(*each, "actions") == 0;
            std::free(*each);
        }
        std::free(static_cast<void*>(capabilities));
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    offersActions_ = found;
    return found;
}

FreedesktopNotifications::Result
FreedesktopNotifications::show(const std::string& slot, const std::string& summary,
                               const std::string& body, const std::vector<Action>& actions) {
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
        // A new connection has its own signal matches, and no notice of its own yet.
        offersActions_.reset();
        matching_ = false;
        awaitsAction_ = false;
        slotIds_.clear();
    }
    const bool withActions = !actions.empty() && offersActions();
    if (withActions && !matching_) {
        // Signals of every notice of the session; the callbacks keep those of ours.
        const auto onSignal = [](sd_bus_message* message, void* self, sd_bus_error*) {
            static_cast<FreedesktopNotifications*>(self)->heard(message);
            return 0;
        };
        matching_ =
            sd_bus_match_signal(bus_.get(), nullptr, nullptr, notificationPath,
                                notificationInterface, "ActionInvoked", onSignal, this) >= 0 &&
            sd_bus_match_signal(bus_.get(), nullptr, nullptr, notificationPath,
                                notificationInterface, "NotificationClosed", onSignal, this) >= 0;
    }

    sd_bus_message* call = nullptr;
    int code = sd_bus_message_new_method_call(bus_.get(), &call, notificationService,
                                              notificationPath, notificationInterface, "Notify");
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    if (code >= 0) {
        const auto earlier = slotIds_.find(slot);
        const std::uint32_t replaced = earlier == slotIds_.end() ? 0 : earlier->second;
        code = sd_bus_message_append(call, "susss", appName, replaced, desktopEntry,
                                     summary.c_str(), body.c_str());
    }
    if (code >= 0) {
        code = sd_bus_message_open_container(call, 'a', "s");
    }
    for (const auto& [key, label] : withActions&& matching_ ? actions : std::vector<Action>{}) {
        if (code >= 0) {
            code = sd_bus_message_append(call, "ss", key.c_str(), label.c_str());
        }
    }
    if (code >= 0) {
        code = sd_bus_message_close_container(call);
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
        awaitsAction_ = false;
        // A broken connection is opened afresh next time.
        if (!sd_bus_is_open(bus_.get())) {
            bus_.reset();
        }
    } else {
        lastId_ = id;
        slotIds_[slot] = id;
        if (withActions && matching_) {
            actionId_ = id;
            awaitsAction_ = true;
            pressed_.clear();
        } else if (id == actionId_) {
            // The notice with buttons was replaced by one without.
            awaitsAction_ = false;
        }
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return result;
}

void FreedesktopNotifications::heard(sd_bus_message* message) {
    std::uint32_t id = 0;
    if (sd_bus_message_is_signal(message, notificationInterface, "ActionInvoked") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(message, "us", &id, &key) >= 0 && id == actionId_ &&
            awaitsAction_ && key != nullptr) {
            pressed_ = key;
            awaitsAction_ = false;
        }
    } else if (sd_bus_message_read(message, "u", &id) >= 0) {
        if (id == actionId_) {
            awaitsAction_ = false;
        }
        // Closed by the user or expired: that slot's next notice is a new one.
        std::erase_if(slotIds_, [id](const auto& entry) { return entry.second == id; });
    }
}

std::string FreedesktopNotifications::waitForAction(int wakeFd) {
    while (bus_ && awaitsAction_) {
        int processed = 0;
        while ((processed = sd_bus_process(bus_.get(), nullptr)) > 0) {
        }
        if (processed < 0) {
            awaitsAction_ = false;
            bus_.reset();
            break;
        }
        if (!awaitsAction_) {
            break;
        }
        std::uint64_t until = 0;
        int timeout = -1;
        if (sd_bus_get_timeout(bus_.get(), &until) > 0 && until != UINT64_MAX) {
            timespec clock{};
            ::clock_gettime(CLOCK_MONOTONIC, &clock);
            const std::uint64_t now =
                std::uint64_t(clock.tv_sec) * 1'000'000 + std::uint64_t(clock.tv_nsec) / 1000;
            timeout = until > now ? int((until - now + 999) / 1000) : 0;
        }
        pollfd ready[2] = {{sd_bus_get_fd(bus_.get()), short(sd_bus_get_events(bus_.get())), 0},
                           {wakeFd, POLLIN, 0}};
        if (::poll(ready, 2, timeout) < 0 && errno != EINTR) {
            break;
        }
        if ((ready[1].revents & POLLIN) != 0) {
            // Someone else's turn; what arrived meanwhile is taken next time.
            break;
        }
    }
    std::string key;
    key.swap(pressed_);
    return key;
}

bool FreedesktopNotifications::close(const std::string& slot) {
    const auto shown = slotIds_.find(slot);
    if (!bus_ || shown == slotIds_.end()) {
        return false;
    }
    const std::uint32_t id = shown->second;
    // Closed or already gone: either way the slot's next notice is a new one.
    slotIds_.erase(shown);
    if (id == actionId_) {
        awaitsAction_ = false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int code =
        sd_bus_call_method(bus_.get(), notificationService, notificationPath, notificationInterface,
                           "CloseNotification", &error, nullptr, "u", id);
    sd_bus_error_free(&error);
    return code >= 0;
}

} // namespace nodwarden::linuxplatform
