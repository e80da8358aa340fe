#include <NodwardenCore/model/AppMode.hpp>

#include <NodwardenCore/model/RawValueCases.hpp>

#include <nlohmann/json.hpp>

namespace nodwarden {

using nlohmann::json;

std::string_view rawValue(AppMode mode) {
    switch (mode) {
    case AppMode::off:
        return "off";
    case AppMode::manualKeepAwake:
        return "manualKeepAwake";
    case AppMode::watchAgentUI:
        return "watchAgentUI";
    case AppMode::sleepAfterCurrentWork:
        return "sleepAfterCurrentWork";
    case AppMode::pluggedInUnlimited:
        return "pluggedInUnlimited";
    }
    return "off";
}

std::string_view displayName(AppMode mode) {
    switch (mode) {
    case AppMode::off:
        return "Off";
    case AppMode::manualKeepAwake:
        return "Manual Keep Awake";
    case AppMode::watchAgentUI:
        return "Watch Agent UI";
    case AppMode::sleepAfterCurrentWork:
        return "Sleep After Current Work";
    case AppMode::pluggedInUnlimited:
        return "Plugged-In Unlimited Mode";
    }
    return "Off";
}

const std::array<AppMode, 5>& appModeAllCases() {
    static constexpr std::array<AppMode, 5> cases{
        AppMode::off, AppMode::manualKeepAwake, AppMode::watchAgentUI,
        AppMode::sleepAfterCurrentWork, AppMode::pluggedInUnlimited};
    return cases;
}

std::optional<AppMode> appModeFromRawValue(std::string_view raw) {
    return caseForRawValue(appModeAllCases(), raw);
}

void to_json(json& value, AppMode mode) {
    value = rawValue(mode);
}
void from_json(const json& value, AppMode& mode) {
    mode = decodeRawValue(value, appModeAllCases(), "mode");
}

} // namespace nodwarden
