#pragma once

// Turns a fuzzer's bytes into the structured readings the sysfs fuzzers feed the readers, the
// same way for the fuzzers and for the regression tests that replay their kept inputs.

#include <NodwardenCore/model/PowerState.hpp>
#include <NodwardenLinux/ThermalReader.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace stayloom::fuzz {

/// Reads values off the front of the input; once it is used up every value is zero or empty.
class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

    template <typename Integer> Integer integral() {
        Integer value{};
        const auto count = std::min(sizeof(Integer), bytes_.size());
        std::memcpy(&value, bytes_.data(), count);
        bytes_.remove_prefix(count);
        return value;
    }
    bool boolean() { return (integral<std::uint8_t>() & 1) != 0; }
    /// A number from 0 to `most`.
    std::size_t upTo(std::size_t most) { return integral<std::uint8_t>() % (most + 1); }
    /// A string of at most `most` bytes, its length taken from the input first.
    std::string text(std::size_t most) {
        const auto length = std::min(upTo(most), bytes_.size());
        std::string value(bytes_.substr(0, length));
        bytes_.remove_prefix(length);
        return value;
    }
    template <typename Value, std::size_t N> Value pick(const std::array<Value, N>& values) {
        return values[integral<std::uint8_t>() % N];
    }

private:
    std::string_view bytes_;
};

/// Zones with any temperatures and trips, and the level held before.
struct ThermalInput {
    std::vector<nodwarden::linuxplatform::ThermalZoneReading> zones;
    nodwarden::ThermalState previous = nodwarden::ThermalState::nominal;
};

inline ThermalInput thermalInput(std::string_view bytes) {
    using nodwarden::ThermalState;
    static const std::array<std::string, 4> tripTypes = {"critical", "hot", "passive", "active"};
    static const std::array<ThermalState, 4> levels = {
        ThermalState::nominal, ThermalState::fair, ThermalState::serious, ThermalState::critical};
    ByteReader input(bytes);
    ThermalInput result;
    result.previous = input.pick(levels);
    result.zones.resize(input.upTo(4));
    for (auto& zone : result.zones) {
        zone.milliCelsius = input.integral<long long>();
        zone.trips.resize(input.upTo(6));
        for (auto& trip : zone.trips) {
            trip.type = input.boolean() ? input.pick(tripTypes) : input.text(10);
            trip.milliCelsius = input.integral<long long>();
        }
    }
    return result;
}

/// Writes up to four supplies below `root`/sys/class/power_supply (replacing any there), each
/// with some of its attribute files: mostly values real supplies hold, sometimes raw bytes.
inline void writePowerSupplyTree(const std::filesystem::path& root, std::string_view bytes) {
    static const std::array<const char*, 10> attributes = {
        "type",     "online",     "present",     "scope",      "status",
        "capacity", "energy_now", "energy_full", "charge_now", "charge_full"};
    static const std::array<std::string, 5> types = {"Battery", "Mains", "USB", "UPS", "Wireless"};
    static const std::array<std::string, 4> scopes = {"System", "Device", "Unknown", ""};
    static const std::array<std::string, 5> statuses = {"Charging", "Discharging", "Full",
                                                        "Not charging", "Unknown"};
    ByteReader input(bytes);
    const auto supplies = root / "sys" / "class" / "power_supply";
    std::error_code ignored;
    std::filesystem::remove_all(supplies, ignored);
    const auto count = input.upTo(4);
    for (std::size_t index = 0; index < count; ++index) {
        const auto folder = supplies / ("supply" + std::to_string(index));
        std::filesystem::create_directories(folder);
        for (const std::string attribute : attributes) {
            if (!input.boolean()) {
                continue;
            }
            std::string value;
            if (input.boolean()) {
                value = input.text(24);
            } else if (attribute == "type") {
                value = input.pick(types);
            } else if (attribute == "scope") {
                value = input.pick(scopes);
            } else if (attribute == "status") {
                value = input.pick(statuses);
            } else {
                value = std::to_string(input.integral<long long>()) + "\n";
            }
            std::ofstream(folder / attribute, std::ios::binary) << value;
        }
    }
}

} // namespace stayloom::fuzz
