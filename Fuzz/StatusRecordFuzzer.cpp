// Agents' transcripts and status files: whatever a line holds, parsing must not fail unsafely,
// and a record that parses keeps no key beyond those asked for, so no prompt or reply survives.
#include "FuzzCheck.hpp"

#include <NodwardenCore/statusrecords/StatusRecordFiles.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Files = nodwarden::StatusRecordFiles;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Files::KeyFilter keep = [](int depth, const std::string& key) {
        return (depth == 1 && (key == "type" || key == "payload" || key == "timestamp")) ||
               (depth == 2 && key == "type");
    };
    for (const std::string_view line : Files::linesNewestFirst(text)) {
        STAYLOOM_FUZZ_CHECK(!line.empty() && line.find('\n') == std::string_view::npos);
        const auto record = Files::parseKeeping(line, keep);
        if (!record) {
            continue;
        }
        STAYLOOM_FUZZ_CHECK(record->is_object());
        for (const auto& [key, value] : record->items()) {
            STAYLOOM_FUZZ_CHECK(key == "type" || key == "payload" || key == "timestamp");
            if (value.is_object()) {
                for (const auto& [inner, ignored] : value.items()) {
                    STAYLOOM_FUZZ_CHECK(inner == "type");
                }
            }
            if (const auto date = Files::readTimestamp(value)) {
                STAYLOOM_FUZZ_CHECK(std::isfinite(*date));
            }
        }
    }
    return 0;
}
