#include <NodwardenLinux/LidSwitchReader.hpp>
#include <NodwardenLinux/SysfsText.hpp>
#include <NodwardenLinux/SystemBusLink.hpp>

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace nodwarden::linuxplatform {

namespace {

constexpr const char* logindName = "org.freedesktop.login1";
constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* manager = "org.freedesktop.login1.Manager";

/// logind's `LidClosed` as its change signals tell it: read once per connection, then taken from
/// PropertiesChanged, so a steady lid costs one non-blocking read of the connection per pass.
/// Read again when logind says the value is invalid or logind itself restarted.
class LogindLidWatch {
public:
    std::optional<bool> lidClosed() {
        SystemBusLink& link = SystemBusLink::ofThisThread();
        sd_bus* bus = link.bus();
        if (bus == nullptr) {
            return std::nullopt;
        }
        if (link.generation() != generation_) {
            // The matches are made before the value is read, so no change falls between them.
            // They belong to the connection and end with it.
            if (sd_bus_match_signal(bus, nullptr, logindName, managerPath,
                                    "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                    &LogindLidWatch::onPropertiesChanged, this) < 0 ||
                sd_bus_add_match(bus, nullptr,
                                 "type='signal',sender='org.freedesktop.DBus',"
                                 "member='NameOwnerChanged',arg0='org.freedesktop.login1'",
                                 &LogindLidWatch::onOwnerChanged, this) < 0) {
                link.drop();
                return std::nullopt;
            }
            generation_ = link.generation();
            closed_.reset();
        }
        if (!closed_) {
            closed_ = readProperty(bus);
        }
        return closed_;
    }

private:
    static std::optional<bool> readProperty(sd_bus* bus) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int closed = 0;
        const int status = sd_bus_get_property_trivial(bus, logindName, managerPath, manager,
                                                       "LidClosed", &error, 'b', &closed);
        sd_bus_error_free(&error);
        if (status < 0) {
            return std::nullopt;
        }
        return closed != 0;
    }

    static int onPropertiesChanged(sd_bus_message* message, void* watch, sd_bus_error*) {
        auto& self = *static_cast<LogindLidWatch*>(watch);
        const char* interface = nullptr;
        if (sd_bus_message_read(message, "s", &interface) < 0 ||
            std::string_view(interface) != manager) {
            return 0;
        }
        // Anything unexpected in the message leaves the value to be read again.
        bool understood = sd_bus_message_enter_container(message, 'a', "{sv}") >= 0;
        while (understood && sd_bus_message_enter_container(message, 'e', "sv") > 0) {
            const char* name = nullptr;
            understood = sd_bus_message_read(message, "s", &name) >= 0;
            if (understood && std::string_view(name) == "LidClosed") {
                int closed = 0;
                understood = sd_bus_message_read(message, "v", "b", &closed) >= 0;
                if (understood) {
                    self.closed_ = closed != 0;
                }
            } else if (understood) {
                understood = sd_bus_message_skip(message, "v") >= 0;
            }
            understood = understood && sd_bus_message_exit_container(message) >= 0;
        }
        understood = understood && sd_bus_message_exit_container(message) >= 0;
        char** invalidated = nullptr;
        if (understood && sd_bus_message_read_strv(message, &invalidated) >= 0) {
            for (char** name = invalidated; name != nullptr && *name != nullptr; ++name) {
                if (std::string_view(*name) == "LidClosed") {
                    self.closed_.reset();
                }
            }
        } else {
            self.closed_.reset();
        }
        freeList(invalidated);
        return 0;
    }

    static int onOwnerChanged(sd_bus_message*, void* watch, sd_bus_error*) {
        static_cast<LogindLidWatch*>(watch)->closed_.reset();
        return 0;
    }

    static void freeList(char** list) {
        for (char** name = list; name != nullptr && *name != nullptr; ++name) {
            std::free(*name);
        }
        std::free(list);
    }

    std::uint64_t generation_ = 0;
    std::optional<bool> closed_;
};

} // namespace

LidSwitchReader::LidSwitchReader(std::filesystem::path root, LogindLidQuery logind)
    : root_(std::move(root)), logind_(std::move(logind)) {}

std::optional<LidState> LidSwitchReader::readACPIButtons() const {
    std::optional<LidState> result;
    const auto base = underRoot(root_, "/proc/acpi/button/lid");
    std::error_code error;
    for (std::filesystem::directory_iterator it(base, error), end; !error && it != end;
         it.increment(error)) {
        const auto text = readTrimmedFile(it->path() / "state");
        if (!text) {
            continue;
        }
        const auto colon = text->find(':');
        std::string value = colon == std::string::npos ? *text : text->substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        if (value == "closed") {
            return LidState::closed;
        }
        if (value == "open") {
            result = LidState::open;
        }
    }
    return result;
}

LidState LidSwitchReader::lid() {
    if (const auto fromButtons = readACPIButtons()) {
        return *fromButtons;
    }
    if (logind_) {
        if (const auto closed = logind_()) {
            return *closed ? LidState::closed : LidState::open;
        }
    }
    return LidState::unknown;
}

std::optional<bool> LidSwitchReader::queryLogindLidClosed() {
    // One watch per thread: the detection thread's lives as long as the program.
    thread_local LogindLidWatch watch;
    return watch.lidClosed();
}

} // namespace nodwarden::linuxplatform
