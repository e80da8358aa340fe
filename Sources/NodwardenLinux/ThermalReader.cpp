#include <NodwardenLinux/SysfsText.hpp>
#include <NodwardenLinux/ThermalReader.hpp>

#include <algorithm>
#include <limits>
#include <system_error>

namespace nodwarden::linuxplatform {

namespace {

constexpr long long lowestPlausibleTrip = 0;
constexpr long long highestPlausibleTrip = 200'000;
constexpr long long criticalMarginMilliCelsius = 5'000;
constexpr long long fairMarginMilliCelsius = 10'000;

int level(ThermalState state) {
    return static_cast<int>(state);
}

ThermalState classifyZone(const ThermalZoneReading& zone, long long offset) {
    // A zone file can hold any 64-bit number; the sum saturates instead of overflowing.
    long long temperature = 0;
    if (__builtin_add_overflow(zone.milliCelsius, offset, &temperature)) {
        temperature = offset > 0 ? std::numeric_limits<long long>::max()
                                 : std::numeric_limits<long long>::min();
    }
    std::optional<long long> critical, hot, passive, active;
    for (const auto& trip : zone.trips) {
        if (trip.milliCelsius <= lowestPlausibleTrip || trip.milliCelsius >= highestPlausibleTrip) {
            continue;
        }
        auto lowest = [&](std::optional<long long>& slot) {
            slot = slot ? std::min(*slot, trip.milliCelsius) : trip.milliCelsius;
        };
        if (trip.type == "critical") {
            lowest(critical);
        } else if (trip.type == "hot") {
            lowest(hot);
        } else if (trip.type == "passive") {
            lowest(passive);
        } else if (trip.type.rfind("active", 0) == 0) {
            lowest(active);
        }
    }
    // At the critical trip the kernel powers the machine off, and at "hot" the platform may
    // hibernate it: a level that only fires there fires too late to let the machine cool down.
    if ((critical && temperature >= *critical - criticalMarginMilliCelsius) ||
        (hot && temperature >= *hot)) {
        return ThermalState::critical;
    }
    if (passive && temperature >= *passive) {
        return ThermalState::serious; // the kernel is throttling
    }
    if ((passive && temperature >= *passive - fairMarginMilliCelsius) ||
        (active && temperature >= *active)) {
        return ThermalState::fair; // fans ramping, throttling near
    }
    return ThermalState::nominal;
}

} // namespace

ThermalReader::ThermalReader(std::filesystem::path root) : root_(std::move(root)) {}

std::vector<ThermalZoneReading> ThermalReader::readZones() const {
    std::vector<ThermalZoneReading> zones;
    const auto base = underRoot(root_, "/sys/class/thermal");
    std::error_code error;
    for (std::filesystem::directory_iterator it(base, error), end; !error && it != end;
         it.increment(error)) {
        const auto name = it->path().filename().string();
        if (name.rfind("thermal_zone", 0) != 0) {
            continue; // cooling devices live here too
        }
        const auto temperature = readIntegerFile(it->path() / "temp");
        if (!temperature) {
            continue; // some zones fail to read while their sensor sleeps
        }
        ThermalZoneReading zone{name, *temperature, {}};
        for (int index = 0; index < 64; ++index) {
            const auto prefix = "trip_point_" + std::to_string(index);
            const auto type = readTrimmedFile(it->path() / (prefix + "_type"));
            if (!type) {
                break;
            }
            if (const auto temp = readIntegerFile(it->path() / (prefix + "_temp"))) {
                zone.trips.push_back({*type, *temp});
            }
        }
        zones.push_back(std::move(zone));
    }
    std::sort(zones.begin(), zones.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return zones;
}

ThermalState ThermalReader::classify(const std::vector<ThermalZoneReading>& zones,
                                     long long offset) {
    ThermalState worst = ThermalState::nominal;
    for (const auto& zone : zones) {
        const auto state = classifyZone(zone, offset);
        if (level(state) > level(worst)) {
            worst = state;
        }
    }
    return worst;
}

ThermalState ThermalReader::withHysteresis(const std::vector<ThermalZoneReading>& zones,
                                           ThermalState previous) {
    const auto now = classify(zones);
    if (level(now) >= level(previous)) {
        return now;
    }
    // Cooling: only step down as far as the zones are clear of the trips by the hysteresis margin.
    const auto held = classify(zones, hysteresisMilliCelsius);
    return level(held) < level(previous) ? held : previous;
}

ThermalState ThermalReader::thermalState() {
    if (callsUntilReading_ > 0) {
        --callsUntilReading_;
        return last_;
    }
    const auto zones = readZones();
    last_ = withHysteresis(zones, last_);
    const bool far =
        last_ == ThermalState::nominal && classify(zones, farMilliCelsius) == ThermalState::nominal;
    callsUntilReading_ = far ? callsPerReadingWhileFar - 1 : 0;
    return last_;
}

} // namespace nodwarden::linuxplatform
