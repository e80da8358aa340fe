// The text helpers every name and on-screen comparison goes through, over arbitrary bytes.
#include "FuzzCheck.hpp"

#include <NodwardenCore/system/UnicodeText.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace UnicodeText = nodwarden::UnicodeText;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool valid = UnicodeText::isValidUTF8(text);
    const auto sanitized = UnicodeText::sanitizedUTF8(text);
    STAYLOOM_FUZZ_CHECK(UnicodeText::isValidUTF8(sanitized));
    STAYLOOM_FUZZ_CHECK(valid == (sanitized == text));

    const auto folded = UnicodeText::foldCase(text);
    STAYLOOM_FUZZ_CHECK(UnicodeText::isValidUTF8(folded));
    const auto stripped = UnicodeText::foldCaseAndStripMarks(text);
    STAYLOOM_FUZZ_CHECK(UnicodeText::isValidUTF8(stripped));

    STAYLOOM_FUZZ_CHECK(UnicodeText::equalsIgnoringCase(text, text));
    STAYLOOM_FUZZ_CHECK(UnicodeText::containsIgnoringCase(text, text));
    STAYLOOM_FUZZ_CHECK(UnicodeText::containsIgnoringCase(text, ""));

    // Trimming only removes bytes at the ends: what is left is a piece of the input.
    const auto trimmed = UnicodeText::trimmed(text);
    STAYLOOM_FUZZ_CHECK(text.find(trimmed) != std::string_view::npos);
    STAYLOOM_FUZZ_CHECK(UnicodeText::trimmed(trimmed) == trimmed);
    return 0;
}
