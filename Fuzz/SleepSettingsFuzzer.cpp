// The power settings listing and the keep-awake pid file, both read back from outside.
#include "FuzzCheck.hpp"

#include <NodwardenCore/sleep/SleepController.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)nodwarden::SleepController::parseSleepDisabled(text);
    const auto identifiers = nodwarden::SleepController::parseKeepAwakePIDs(text);
    // Every identifier needs at least one digit and a line of its own.
    STAYLOOM_FUZZ_CHECK(identifiers.size() <= size);
    return 0;
}
