// The hardware registry's listing of the clamshell flag.
#include <NodwardenCore/macos/LidStateDetector.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)nodwarden::LidStateDetector::parseIORegOutput(text);
    return 0;
}
