#include <NodwardenApp/model/ModeWords.hpp>

#include <QCoreApplication>

namespace nodwarden::app {

const std::array<ModeWord, 5>& modeWords() {
    static constexpr std::array<ModeWord, 5> words{{
        {AppMode::watchAgentUI, "watch",
         QT_TRANSLATE_NOOP("ModeWords", "keep awake while agents work, then let it sleep")},
        {AppMode::manualKeepAwake, "manual",
         QT_TRANSLATE_NOOP("ModeWords", "keep awake until you change the mode")},
        {AppMode::sleepAfterCurrentWork, "sleep-after",
         QT_TRANSLATE_NOOP("ModeWords", "keep awake for the current work, then sleep")},
        {AppMode::pluggedInUnlimited, "unlimited",
         QT_TRANSLATE_NOOP("ModeWords", "keep awake without limit while plugged in")},
        {AppMode::off, "off", QT_TRANSLATE_NOOP("ModeWords", "keep nothing awake")},
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
