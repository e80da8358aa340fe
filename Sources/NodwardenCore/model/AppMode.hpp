#pragma once

#include <NodwardenCore/Export.hpp>

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <optional>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

enum class AppMode {
    off,
    manualKeepAwake,
    watchAgentUI,
    sleepAfterCurrentWork,
    pluggedInUnlimited
};

std::string_view rawValue(AppMode mode);
std::string_view displayName(AppMode mode);
/// Every mode, in the order the pickers show them.
const std::array<AppMode, 5>& appModeAllCases();
/// Any string other than a raw value yields no mode.
std::optional<AppMode> appModeFromRawValue(std::string_view raw);

// For records that embed it.
void to_json(nlohmann::json& value, AppMode mode);
void from_json(const nlohmann::json& value, AppMode& mode);

} // namespace nodwarden
