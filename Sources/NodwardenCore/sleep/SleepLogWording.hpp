#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The log lines about the keep-awake child and the system sleep switch, in the words of the
/// platform whose programs they name: the macOS set is the design's own wording, the Linux set
/// speaks of the keep-awake helper and the sleep switch. Lines that end in a value (an error's
/// text, a process identifier) hold only the words around it.
struct SleepLogWording {
    /// The keep-awake child inside a sentence ("Started <child> pid 12").
    std::string child;
    /// The same at the start of a sentence ("<Child> pid 12 did not confirm exit…").
    std::string childAtStart;
    /// Put before an error's text when the administrator step is declined.
    std::string lidClosedDeclinedPrefix;
    std::string engagingSwitch;
    std::string restoringSwitch;
    std::string restoreUnconfirmed;
    std::string staleMarkerRemoved;
    std::string stuckSwitchFound;
    std::string requestingSleepNow;
    /// Put before an error's text.
    std::string sleepNowFailedPrefix;
    /// Put before an error's text.
    std::string markerWriteFailedPrefix;

    // The model's lines about what launch repair and restores found.
    std::string launchRepairUnconfirmed;
    std::string adoptedAtLaunch;
    std::string surfacedAtLaunch;
    std::string releaseUnconfirmed;
    std::string sleepNowUnconfirmed;
    std::string restoringStaleSwitch;

    static const SleepLogWording& macOS();
    static const SleepLogWording& linuxHelper();

    bool operator==(const SleepLogWording&) const = default;
};

} // namespace nodwarden
