#include <NodwardenCore/sleep/SleepLogWording.hpp>

namespace nodwarden {

const SleepLogWording& SleepLogWording::macOS() {
    // The design's texts, tags included: they are part of the lines.
    static const SleepLogWording wording{
        .child = "caffeinate",
        .childAtStart = "caffeinate",
        .lidClosedDeclinedPrefix =
            "Lid-closed admin step declined; continuing in lid-open (caffeinate) mode: ",
        .engagingSwitch = "Engaging pmset disablesleep for lid-closed mode",
        .restoringSwitch = "Restoring pmset disablesleep 0",
        .restoreUnconfirmed = "WARNING: pmset disablesleep may still be engaged after the restore "
                              "attempt — keeping it tracked for retry (REVIEW #18)",
        .staleMarkerRemoved =
            "Stale disablesleep marker found (system reports sleep enabled) — removing it",
        .stuckSwitchFound = "disablesleep marker from a previous run found — clearing stuck pmset "
                            "disablesleep (REVIEW #2)",
        .requestingSleepNow = "Requesting pmset sleepnow",
        .sleepNowFailedPrefix = "pmset sleepnow failed: ",
        .markerWriteFailedPrefix = "Failed to write disablesleep marker: ",
        .launchRepairUnconfirmed = "Launch reconcile could not confirm stuck disablesleep cleared "
                                   "— surfacing stale-block banner (REVIEW #2)",
        .adoptedAtLaunch = "Adopted stale pmset disablesleep at launch (lid-closed on); normal "
                           "release/quit will clear it",
        .surfacedAtLaunch = "Stale pmset disablesleep detected at launch (lid-closed off) — "
                            "surfacing restore banner",
        .releaseUnconfirmed = "Sleep restore did not confirm disablesleep cleared — surfacing "
                              "stale-block banner (REVIEW #18)",
        .sleepNowUnconfirmed = "Completion/battery sleep could not clear disablesleep — surfacing "
                               "stale-block banner (REVIEW #18)",
        .restoringStaleSwitch = "Restoring stale disablesleep left by a previous run",
    };
    return wording;
}

const SleepLogWording& SleepLogWording::linuxHelper() {
    static const SleepLogWording wording{
        .child = "keep-awake helper",
        .childAtStart = "Keep-awake helper",
        .lidClosedDeclinedPrefix = "Lid-closed admin step declined; continuing with the lid open "
                                   "(keep-awake helper only): ",
        .engagingSwitch = "Turning the sleep switch off for lid-closed mode",
        .restoringSwitch = "Turning the sleep switch back on",
        .restoreUnconfirmed = "WARNING: the sleep switch may still be off after the restore "
                              "attempt — keeping it tracked for retry",
        .staleMarkerRemoved =
            "Stale sleep switch marker found (system reports sleep enabled) — removing it",
        .stuckSwitchFound =
            "Sleep switch marker from a previous run found — turning the sleep switch back on",
        .requestingSleepNow = "Requesting suspend",
        .sleepNowFailedPrefix = "Suspend failed: ",
        .markerWriteFailedPrefix = "Failed to write sleep switch marker: ",
        .launchRepairUnconfirmed = "Launch repair could not confirm the sleep switch back on — "
                                   "surfacing stale-block banner",
        .adoptedAtLaunch = "Adopted a sleep switch left off at launch (lid-closed on); normal "
                           "release/quit will turn it back on",
        .surfacedAtLaunch = "Sleep switch left off found at launch (lid-closed off) — surfacing "
                            "restore banner",
        .releaseUnconfirmed = "Sleep restore did not confirm the sleep switch back on — surfacing "
                              "stale-block banner",
        .sleepNowUnconfirmed = "Completion/battery sleep could not turn the sleep switch back on "
                               "— surfacing stale-block banner",
        .restoringStaleSwitch = "Turning back on a sleep switch left off by a previous run",
    };
    return wording;
}

} // namespace nodwarden
