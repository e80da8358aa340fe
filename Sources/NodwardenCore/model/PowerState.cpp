#include <NodwardenCore/model/PowerState.hpp>

#include <NodwardenCore/model/RawValueCases.hpp>
#include <NodwardenCore/system/JSONDecoding.hpp>

#include <nlohmann/json.hpp>

#include <array>

namespace nodwarden {

using nlohmann::json;
using namespace JSONDecoding;

namespace {

constexpr std::array<LidState, 3> lidStates{LidState::open, LidState::closed, LidState::unknown};

PowerSnapshot decodePowerSnapshot(const json& value) {
    const json& object = requireObject(value, "power snapshot");
    return PowerSnapshot{
        readBool(requiredMember(object, "isOnACPower"), "isOnACPower"),
        readOptional(object, "batteryPercent", readInt),
        readString(requiredMember(object, "rawDescription"), "rawDescription"),
    };
}

} // namespace

// MARK: - LidState

std::string_view rawValue(LidState state) {
    switch (state) {
    case LidState::open:
        return "open";
    case LidState::closed:
        return "closed";
    case LidState::unknown:
        return "unknown";
    }
    return "unknown";
}

std::string_view displayName(LidState state) {
    switch (state) {
    case LidState::open:
        return "Open";
    case LidState::closed:
        return "Closed";
    case LidState::unknown:
        return "Unknown";
    }
    return "Unknown";
}

std::optional<LidState> lidStateFromRawValue(std::string_view raw) {
    return caseForRawValue(lidStates, raw);
}

// MARK: - PowerSnapshot

std::string PowerSnapshot::displayName() const {
    std::string text = batteryPercent ? std::to_string(*batteryPercent) + "%" : "Battery unknown";
    text += isOnACPower ? ", AC Power" : ", Battery";
    return text;
}

std::optional<PowerSnapshot> PowerSnapshot::fromJSON(std::string_view text) {
    return decodeText<PowerSnapshot>(text, decodePowerSnapshot);
}

std::string PowerSnapshot::toJSON() const {
    return json(*this).dump();
}

// MARK: - JSON building blocks

void to_json(json& value, LidState state) {
    value = rawValue(state);
}
void from_json(const json& value, LidState& state) {
    state = decodeRawValue(value, lidStates, "lid state");
}

void to_json(json& value, const PowerSnapshot& power) {
    value = json::object();
    value["isOnACPower"] = power.isOnACPower;
    if (power.batteryPercent) {
        value["batteryPercent"] = *power.batteryPercent;
    }
    value["rawDescription"] = power.rawDescription;
}
void from_json(const json& value, PowerSnapshot& power) {
    power = decodePowerSnapshot(value);
}

} // namespace nodwarden
