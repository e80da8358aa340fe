#include <NodwardenCore/model/GuardStatus.hpp>

#include <NodwardenCore/model/RawValueCases.hpp>

#include <nlohmann/json.hpp>

#include <array>

namespace nodwarden {

using nlohmann::json;

namespace {

constexpr std::array<GuardStatus, 7> guardStatuses{GuardStatus::off,
                                                   GuardStatus::watching,
                                                   GuardStatus::keepingAwake,
                                                   GuardStatus::idleGrace,
                                                   GuardStatus::batterySafety,
                                                   GuardStatus::thermalSafety,
                                                   GuardStatus::pluggedInUnlimited};

} // namespace

std::string_view rawValue(GuardStatus status) {
    switch (status) {
    case GuardStatus::off:
        return "off";
    case GuardStatus::watching:
        return "watching";
    case GuardStatus::keepingAwake:
        return "keepingAwake";
    case GuardStatus::idleGrace:
        return "idleGrace";
    case GuardStatus::batterySafety:
        return "batterySafety";
    case GuardStatus::thermalSafety:
        return "thermalSafety";
    case GuardStatus::pluggedInUnlimited:
        return "pluggedInUnlimited";
    }
    return "off";
}

std::string_view displayName(GuardStatus status) {
    switch (status) {
    case GuardStatus::off:
        return "Off";
    case GuardStatus::watching:
        return "Watching";
    case GuardStatus::keepingAwake:
        return "Keeping Awake";
    case GuardStatus::idleGrace:
        return "Idle Grace";
    case GuardStatus::batterySafety:
        return "Battery Safety";
    case GuardStatus::thermalSafety:
        return "Thermal Safety";
    case GuardStatus::pluggedInUnlimited:
        return "Plugged In Unlimited";
    }
    return "Off";
}

std::optional<GuardStatus> guardStatusFromRawValue(std::string_view raw) {
    return caseForRawValue(guardStatuses, raw);
}

void to_json(json& value, GuardStatus status) {
    value = rawValue(status);
}
void from_json(const json& value, GuardStatus& status) {
    status = decodeRawValue(value, guardStatuses, "status");
}

} // namespace nodwarden
