// The power tool's battery listing.
#include "FuzzCheck.hpp"

#include <NodwardenCore/macos/PowerMonitor.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto snapshot = nodwarden::PowerMonitor::parsePMSetBatteryOutput(text);
    if (snapshot.batteryPercent) {
        STAYLOOM_FUZZ_CHECK(*snapshot.batteryPercent >= 0);
    }
    STAYLOOM_FUZZ_CHECK(snapshot.rawDescription.size() <= size);
    (void)snapshot.displayName();
    return 0;
}
