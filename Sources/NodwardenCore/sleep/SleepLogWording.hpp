#pragma once

#include <NodwardenCore/Export.hpp>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The log lines about the keep-awake child and the system sleep switch, by what they report.
/// Lines that end in a value (an error's text, a process identifier) hold only the words before
/// it; `child` and `childAtStart` are the words for the child inside and at the start of a line.
enum class SleepLogLine : std::size_t {
    child,
    childAtStart,
    lidClosedDeclinedPrefix,
    engagingSwitch,
    restoringSwitch,
    restoreUnconfirmed,
    staleMarkerRemoved,
    stuckSwitchFound,
    requestingSleepNow,
    sleepNowFailedPrefix,
    markerWriteFailedPrefix,
    // The model's lines about what launch repair and restores found.
    launchRepairUnconfirmed,
    adoptedAtLaunch,
    surfacedAtLaunch,
    releaseUnconfirmed,
    sleepNowUnconfirmed,
    restoringStaleSwitch,
};

inline constexpr std::size_t sleepLogLineCount =
    static_cast<std::size_t>(SleepLogLine::restoringStaleSwitch) + 1;

/// One platform's table of those lines, in the words of the programs it names: the macOS table
/// names macOS's own programs, the Linux one speaks of the keep-awake helper and the sleep
/// switch. Log lines stay in English whatever the user's language.
class SleepLogWording {
public:
    using Lines = std::array<std::string_view, sleepLogLineCount>;

    explicit constexpr SleepLogWording(const Lines& lines) : lines_(lines) {}

    std::string operator[](SleepLogLine line) const {
        return std::string(lines_[static_cast<std::size_t>(line)]);
    }

    static const SleepLogWording& macOS();
    static const SleepLogWording& linuxHelper();

private:
    Lines lines_;
};

} // namespace nodwarden
