#pragma once

#include <NodwardenCore/model/PowerState.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden::linuxplatform {

/// One thermal zone: its temperature and trip points, all in millidegrees Celsius.
struct ThermalZoneReading {
    struct Trip {
        std::string type; ///< critical, hot, passive, active
        long long milliCelsius = 0;
        bool operator==(const Trip&) const = default;
    };
    std::string name;
    long long milliCelsius = 0;
    std::vector<Trip> trips;
    bool operator==(const ThermalZoneReading&) const = default;
};

/// Four-level thermal pressure from /sys/class/thermal zones against their own trip points.
class ThermalReader {
public:
    /// How far (millidegrees) a zone must cool below a trip before the level steps down.
    static constexpr long long hysteresisMilliCelsius = 2500;
    /// While every zone is at least this far (millidegrees) below anything that would raise the
    /// level from nominal, the zones are read only once in `callsPerReadingWhileFar` calls.
    static constexpr long long farMilliCelsius = 15'000;
    static constexpr int callsPerReadingWhileFar = 5;

    explicit ThermalReader(std::filesystem::path root = "/");

    /// Reads every zone and classifies; remembers the level for the next call's hysteresis. Far
    /// from every trip the last level stands for a few calls without reading (no zone climbs
    /// `farMilliCelsius` in so few passes); near one, every call reads.
    ThermalState thermalState();

    std::vector<ThermalZoneReading> readZones() const;

    /// The worst zone, each against its own lowest trip of a kind: within 5 °C of the critical
    /// trip or at the hot trip → critical; at the passive trip → serious; within 10 °C of it or
    /// at an active trip → fair; else nominal. Trips at or below 0 °C or at or above 200 °C are
    /// unset or bogus.
    static ThermalState classify(const std::vector<ThermalZoneReading>& zones,
                                 long long offsetMilliCelsius = 0);

    /// Raises at once, lowers only when the zones are cooler than the trips by the hysteresis.
    static ThermalState withHysteresis(const std::vector<ThermalZoneReading>& zones,
                                       ThermalState previous);

private:
    std::filesystem::path root_;
    ThermalState last_ = ThermalState::nominal;
    /// Calls left before the zones are read again; 0 reads at the next call.
    int callsUntilReading_ = 0;
};

} // namespace nodwarden::linuxplatform
