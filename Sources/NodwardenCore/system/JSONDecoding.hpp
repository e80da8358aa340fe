#pragma once

#include <NodwardenCore/Export.hpp>

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Type-exact readers for stored JSON. nlohmann converts freely between numbers and booleans;
/// stored records must not, so each reader checks the JSON type itself and throws
/// `DecodingError` on a mismatch, which the caller turns into "no value".
namespace JSONDecoding {

/// A missing required key or a value of the wrong JSON type.
struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A JSON integer that fits an `int`; floats, booleans and strings are rejected.
int readInt(const nlohmann::json& value, std::string_view key);
/// Any JSON number, integers included.
double readDouble(const nlohmann::json& value, std::string_view key);
bool readBool(const nlohmann::json& value, std::string_view key);
std::string readString(const nlohmann::json& value, std::string_view key);
/// An array whose every element is a string.
std::vector<std::string> readStringList(const nlohmann::json& value, std::string_view key);

/// `value` itself when it is an object.
const nlohmann::json& requireObject(const nlohmann::json& value, std::string_view what);
/// The value of an optional key, or null when the key is absent or holds JSON null.
const nlohmann::json* optionalMember(const nlohmann::json& object, const char* key);
/// The value of a required key (which may still be of the wrong type for the caller's reader).
const nlohmann::json& requiredMember(const nlohmann::json& object, const char* key);

/// `read` applied to an optional key's value; no value when the key is absent or null.
template <typename Read>
auto readOptional(const nlohmann::json& object, const char* key, Read read)
    -> std::optional<decltype(read(std::declval<const nlohmann::json&>(), key))> {
    if (const nlohmann::json* value = optionalMember(object, key)) {
        return read(*value, key);
    }
    return std::nullopt;
}

/// `read` applied to an optional key's value, stored in `field`; `field` keeps its value when the
/// key is absent or null.
template <typename Read, typename Field>
void readOptionalInto(const nlohmann::json& object, const char* key, Read read, Field& field) {
    if (auto value = readOptional(object, key, read)) {
        field = std::move(*value);
    }
}

/// Parses `text` and decodes it with `decode`; any failure, malformed JSON included, is no value.
template <typename T, typename Decode>
std::optional<T> decodeText(std::string_view text, Decode decode) {
    const nlohmann::json parsed = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (parsed.is_discarded()) {
        return std::nullopt;
    }
    try {
        return decode(parsed);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace JSONDecoding
} // namespace nodwarden
