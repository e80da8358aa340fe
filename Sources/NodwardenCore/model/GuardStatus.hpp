#pragma once

#include <NodwardenCore/Export.hpp>

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

enum class GuardStatus {
    off,
    watching,
    keepingAwake,
    idleGrace,
    batterySafety,
    thermalSafety,
    pluggedInUnlimited
};

std::string_view rawValue(GuardStatus status);
std::string_view displayName(GuardStatus status);
std::optional<GuardStatus> guardStatusFromRawValue(std::string_view raw);

// For records that embed it.
void to_json(nlohmann::json& value, GuardStatus status);
void from_json(const nlohmann::json& value, GuardStatus& status);

} // namespace nodwarden
