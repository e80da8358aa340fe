#include <NodwardenApp/model/ModeWords.hpp>

namespace nodwarden::app {

const std::array<ModeWord, 5>& modeWords() {
    static constexpr std::array<ModeWord, 5> words{{
        {AppMode::watchAgentUI, "watch", "keep awake while agents work, then let it sleep"},
        {AppMode::manualKeepAwake, "manual", "keep awake until you change the mode"},
        {AppMode::sleepAfterCurrentWork, "sleep-after",
         "keep awake for the current work, then sleep"},
        {AppMode::pluggedInUnlimited, "unlimited", "keep awake without limit while plugged in"},
        {AppMode::off, "off", "keep nothing awake"},
    }};
    return words;
}

std::string_view modeWord(AppMode mode) {
    for (const ModeWord& entry : modeWords()) {
        if (entry.mode == mode) {
            return entry.word;
        }
    }
    return "off";
}

std::optional<AppMode> modeFromWord(std::string_view word) {
    for (const ModeWord& entry : modeWords()) {
        if (entry.word == word) {
            return entry.mode;
        }
    }
    return std::nullopt;
}

} // namespace nodwarden::app
