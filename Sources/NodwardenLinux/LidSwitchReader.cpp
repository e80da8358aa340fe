#include <NodwardenLinux/LidSwitchReader.hpp>
#include <NodwardenLinux/SysfsText.hpp>

#include <systemd/sd-bus.h>

#include <system_error>

namespace nodwarden::linuxplatform {

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
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return std::nullopt;
    }
    // A wedged logind must not stall a detection pass.
    sd_bus_set_method_call_timeout(bus, 1'000'000);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int closed = 0;
    const int status = sd_bus_get_property_trivial(
        bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
        "LidClosed", &error, 'b', &closed);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    if (status < 0) {
        return std::nullopt;
    }
    return closed != 0;
}

} // namespace nodwarden::linuxplatform
