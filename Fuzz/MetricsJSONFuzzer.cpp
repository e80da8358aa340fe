// The statistics file: decoded or refused, never a crash, and an accepted account survives
// being written and read again.
#include "FuzzCheck.hpp"

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto metrics = nodwarden::UsageMetrics::fromJSON(text);
    if (!metrics) {
        return 0;
    }
    // The derived figures walk every bucket; they must cope with whatever was accepted.
    (void)metrics->totalProtectedSeconds();
    (void)metrics->activeDays();
    (void)metrics->utilization();
    (void)metrics->protectedSecondsByAgent();
    (void)metrics->sessionsByAgent();
    const auto again = nodwarden::UsageMetrics::fromJSON(metrics->toJSON());
    STAYLOOM_FUZZ_CHECK(again.has_value());
    STAYLOOM_FUZZ_CHECK(*again == *metrics);
    return 0;
}
