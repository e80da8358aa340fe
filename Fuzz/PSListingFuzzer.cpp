// The process listings "/bin/ps" prints: "pid ppid pcpu command" rows and "pid args" rows.
#include "FuzzCheck.hpp"

#include <NodwardenCore/detection/ProcessDetector.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& row : nodwarden::ProcessDetector::parsePSOutput(text)) {
        STAYLOOM_FUZZ_CHECK(std::isfinite(row.cpuPercent));
        STAYLOOM_FUZZ_CHECK(row.arguments.empty());
        STAYLOOM_FUZZ_CHECK(row.command.size() <= size);
        (void)row.displayName();
    }
    for (const auto& [pid, arguments] : nodwarden::ProcessDetector::parsePSArgs(text)) {
        STAYLOOM_FUZZ_CHECK(arguments.size() <= size);
    }
    return 0;
}
