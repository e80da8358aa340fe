#pragma once

#include <NodwardenCore/model/AppMode.hpp>

#include <array>
#include <optional>
#include <string_view>

namespace nodwarden::app {

/// The short words a terminal user types for the modes (`stayloom mode watch`, the first-run
/// question), with the line that explains each.
struct ModeWord {
    AppMode mode;
    std::string_view word;
    std::string_view explanation;
};

/// Every mode, the first-run default (watch) first and off last.
const std::array<ModeWord, 5>& modeWords();
/// "off", "watch", "manual", "sleep-after", "unlimited".
std::string_view modeWord(AppMode mode);
/// The mode a word names; letter case matters, as it does for every other command word.
std::optional<AppMode> modeFromWord(std::string_view word);

} // namespace nodwarden::app
