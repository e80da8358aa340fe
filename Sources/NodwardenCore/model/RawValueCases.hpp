#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/system/JSONDecoding.hpp>

#include <nlohmann/json.hpp>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The case of `cases` whose `rawValue` is `raw`; none when no case has it.
template <typename Enum, std::size_t N>
std::optional<Enum> caseForRawValue(const std::array<Enum, N>& cases, std::string_view raw) {
    for (const Enum value : cases) {
        if (rawValue(value) == raw) {
            return value;
        }
    }
    return std::nullopt;
}

/// The case of `cases` whose raw value a stored JSON string holds; throws `DecodingError` for
/// anything else.
template <typename Enum, std::size_t N>
Enum decodeRawValue(const nlohmann::json& value, const std::array<Enum, N>& cases,
                    std::string_view what) {
    const auto decoded = caseForRawValue(cases, JSONDecoding::readString(value, what));
    if (!decoded) {
        throw JSONDecoding::DecodingError("\"" + std::string(what) + "\" is not a known raw value");
    }
    return *decoded;
}

} // namespace nodwarden
