// An agent's own settings file, whatever it holds: our entries go in once, come out whole, and
// an edit never fails unsafely.
#include "FuzzCheck.hpp"

#include <NodwardenCore/hooks/HookConfiguration.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Config = nodwarden::HookConfiguration;
using Outcome = Config::Edit::Outcome;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> events{"UserPromptSubmit", "Stop"};
    for (const auto shape : {Config::Shape::grouped, Config::Shape::flat}) {
        const auto added = Config::install(text, shape, "/usr/bin/stayloom", "claude", events);
        Config::remove(text, shape, "claude");
        const std::string_view connected =
            added.outcome == Outcome::changed ? std::string_view(added.text) : text;
        if (added.outcome == Outcome::refused) {
            continue;
        }
        STAYLOOM_FUZZ_CHECK(Config::installed(connected, shape, "claude", events));
        STAYLOOM_FUZZ_CHECK(
            Config::install(connected, shape, "/usr/bin/stayloom", "claude", events).outcome ==
            Outcome::unchanged);
        const auto removed = Config::remove(connected, shape, "claude");
        STAYLOOM_FUZZ_CHECK(removed.outcome == Outcome::changed);
        STAYLOOM_FUZZ_CHECK(!Config::installed(removed.text, shape, "claude", events));
        STAYLOOM_FUZZ_CHECK(Config::remove(removed.text, shape, "claude").outcome ==
                            Outcome::unchanged);
    }
    return 0;
}
