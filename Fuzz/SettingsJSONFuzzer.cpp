// The settings file: whatever it holds, decoding must not fail unsafely, and settings it
// accepts must survive being written and read again.
#include "FuzzCheck.hpp"

#include <NodwardenCore/model/GuardSettings.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto settings = nodwarden::GuardSettings::fromJSON(text);
    if (!settings) {
        return 0;
    }
    const auto again = nodwarden::GuardSettings::fromJSON(settings->toJSON());
    STAYLOOM_FUZZ_CHECK(again.has_value());
    STAYLOOM_FUZZ_CHECK(*again == *settings);
    return 0;
}
