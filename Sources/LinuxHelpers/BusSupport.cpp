#include "BusSupport.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace stayloom::helpers {

std::string BusFailure::describe() const {
    return name.empty() ? message : message + " (" + name + ")";
}

bool BusFailure::isServiceAbsent() const {
    static constexpr std::string_view spawnPrefix = "org.freedesktop.DBus.Error.Spawn.";
    return name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           name.compare(0, spawnPrefix.size(), spawnPrefix) == 0;
}

BusFailure BusFailure::from(int code, const sd_bus_error* error) {
    BusFailure failure;
    if (error != nullptr && sd_bus_error_is_set(error)) {
        failure.name = error->name;
        failure.message = error->message != nullptr ? error->message : error->name;
    } else {
        failure.message = std::strerror(code < 0 ? -code : code);
    }
    return failure;
}

namespace {

Bus open(int (*opener)(sd_bus**), BusFailure& failure) {
    sd_bus* bus = nullptr;
    const int code = opener(&bus);
    if (code < 0) {
        failure = BusFailure::from(code, nullptr);
        return nullptr;
    }
    return Bus(bus);
}

} // namespace

Bus openSystemBus(BusFailure& failure) {
    return open(sd_bus_open_system, failure);
}

Bus openSessionBus(BusFailure& failure) {
    return open(sd_bus_open_user, failure);
}

std::optional<UniqueFd> takeLogindBlockLock(sd_bus* bus, const std::string& what,
                                            const std::string& who, const std::string& why,
                                            BusFailure& failure) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int code = sd_bus_call_method(bus, logindService, logindPath, logindManager, "Inhibit", &error,
                                  &reply, "ssss", what.c_str(), who.c_str(), why.c_str(), "block");
    Message owned(reply);
    if (code < 0) {
        failure = BusFailure::from(code, &error);
        sd_bus_error_free(&error);
        return std::nullopt;
    }
    int borrowed = -1;
    code = sd_bus_message_read(reply, "h", &borrowed);
    if (code < 0) {
        failure = BusFailure::from(code, nullptr);
        return std::nullopt;
    }
    // The message owns the received descriptor; the lock must outlive the message.
    const int fd = ::fcntl(borrowed, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        failure = BusFailure::from(errno, nullptr);
        return std::nullopt;
    }
    return UniqueFd(fd);
}

} // namespace stayloom::helpers
