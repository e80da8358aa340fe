// Thermal zones as sysfs gives them: any temperatures and trip points the files may hold.
#include "FuzzCheck.hpp"
#include "FuzzInputs.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

using nodwarden::linuxplatform::ThermalReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = stayloom::fuzz::thermalInput({reinterpret_cast<const char*>(data), size});
    const auto now = ThermalReader::classify(input.zones);
    const auto held = ThermalReader::withHysteresis(input.zones, input.previous);
    // Hysteresis reports the zones' level when it rises, else something between it and the
    // level held before.
    STAYLOOM_FUZZ_CHECK(static_cast<int>(held) >= static_cast<int>(now));
    STAYLOOM_FUZZ_CHECK(held == now || static_cast<int>(held) <= static_cast<int>(input.previous));
    return 0;
}
