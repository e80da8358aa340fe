#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {
namespace AsciiText {

/// `c` in lower case when it is an ASCII capital; every other byte unchanged, whatever the locale.
constexpr char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

/// `text` with its ASCII capitals in lower case; other bytes, UTF-8 included, unchanged.
std::string lowercased(std::string_view text);

/// `text` without the bytes of `characters` at either end; a view into `text`.
std::string_view trimmed(std::string_view text, std::string_view characters = " \t");

} // namespace AsciiText
} // namespace nodwarden
