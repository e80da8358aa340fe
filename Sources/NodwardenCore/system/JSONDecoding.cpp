#include <NodwardenCore/system/JSONDecoding.hpp>

#include <cstdint>
#include <limits>

namespace nodwarden::JSONDecoding {

using nlohmann::json;

namespace {

[[noreturn]] void fail(std::string_view key, std::string_view expected) {
    throw DecodingError("\"" + std::string(key) + "\" is not " + std::string(expected));
}

} // namespace

int readInt(const json& value, std::string_view key) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            fail(key, "an integer in range");
        }
        return static_cast<int>(number);
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            fail(key, "an integer in range");
        }
        return static_cast<int>(number);
    }
    fail(key, "an integer");
}

double readDouble(const json& value, std::string_view key) {
    if (!value.is_number()) {
        fail(key, "a number");
    }
    return value.get<double>();
}

bool readBool(const json& value, std::string_view key) {
    if (!value.is_boolean()) {
        fail(key, "a boolean");
    }
    return value.get<bool>();
}

std::string readString(const json& value, std::string_view key) {
    if (!value.is_string()) {
        fail(key, "a string");
    }
    return value.get<std::string>();
}

std::vector<std::string> readStringList(const json& value, std::string_view key) {
    if (!value.is_array()) {
        fail(key, "an array of strings");
    }
    std::vector<std::string> list;
    list.reserve(value.size());
    for (const auto& element : value) {
        list.push_back(readString(element, key));
    }
    return list;
}

const json& requireObject(const json& value, std::string_view what) {
    if (!value.is_object()) {
        fail(what, "an object");
    }
    return value;
}

const json* optionalMember(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

const json& requiredMember(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        throw DecodingError(std::string("missing \"") + key + "\"");
    }
    return *it;
}

} // namespace nodwarden::JSONDecoding
