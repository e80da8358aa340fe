#include <NodwardenCore/sleep/SleepLogWording.hpp>

#include <utility>

namespace nodwarden {

namespace {

/// The lines given by code; a line left out fails the build rather than log an empty line.
consteval SleepLogWording::Lines
table(const std::array<std::pair<SleepLogLine, std::string_view>, sleepLogLineCount>& entries) {
    SleepLogWording::Lines lines{};
    for (const auto& [line, text] : entries) {
        if (!lines[static_cast<std::size_t>(line)].empty() || text.empty()) {
            throw "each line once, none empty";
        }
        lines[static_cast<std::size_t>(line)] = text;
    }
    return lines;
}

} // namespace

const SleepLogWording& SleepLogWording::macOS() {
    // The macOS texts, tags included: they are part of the lines.
    static const SleepLogWording wording(table({{
        {SleepLogLine::child, "caffeinate"},
        {SleepLogLine::childAtStart, "caffeinate"},
        {SleepLogLine::lidClosedDeclinedPrefix,
         "Lid-closed admin step declined; continuing in lid-open (caffeinate) mode: "},
        {SleepLogLine::engagingSwitch, "Engaging pmset disablesleep for lid-closed mode"},
        {SleepLogLine::restoringSwitch, "Restoring pmset disablesleep 0"},
        {SleepLogLine::restoreUnconfirmed,
         "WARNING: pmset disablesleep may still be engaged after the restore "
         "attempt — keeping it tracked for retry (REVIEW #18)"},
        {SleepLogLine::staleMarkerRemoved,
         "Stale disablesleep marker found (system reports sleep enabled) — removing it"},
        {SleepLogLine::stuckSwitchFound,
         "disablesleep marker from a previous run found — clearing stuck pmset "
         "disablesleep (REVIEW #2)"},
        {SleepLogLine::requestingSleepNow, "Requesting pmset sleepnow"},
        {SleepLogLine::sleepNowFailedPrefix, "pmset sleepnow failed: "},
        {SleepLogLine::markerWriteFailedPrefix, "Failed to write disablesleep marker: "},
        {SleepLogLine::launchRepairUnconfirmed,
         "Launch reconcile could not confirm stuck disablesleep cleared "
         "— surfacing stale-block banner (REVIEW #2)"},
        {SleepLogLine::adoptedAtLaunch,
         "Adopted stale pmset disablesleep at launch (lid-closed on); normal "
         "release/quit will clear it"},
        {SleepLogLine::surfacedAtLaunch,
         "Stale pmset disablesleep detected at launch (lid-closed off) — "
         "surfacing restore banner"},
        {SleepLogLine::releaseUnconfirmed,
         "Sleep restore did not confirm disablesleep cleared — surfacing "
         "stale-block banner (REVIEW #18)"},
        {SleepLogLine::sleepNowUnconfirmed,
         "Completion/battery sleep could not clear disablesleep — surfacing "
         "stale-block banner (REVIEW #18)"},
        {SleepLogLine::restoringStaleSwitch, "Restoring stale disablesleep left by a previous run"},
    }}));
    return wording;
}

const SleepLogWording& SleepLogWording::linuxHelper() {
    static const SleepLogWording wording(table({{
        {SleepLogLine::child, "keep-awake helper"},
        {SleepLogLine::childAtStart, "Keep-awake helper"},
        {SleepLogLine::lidClosedDeclinedPrefix,
         "Lid-closed admin step declined; continuing with the lid open "
         "(keep-awake helper only): "},
        {SleepLogLine::engagingSwitch, "Turning the sleep switch off for lid-closed mode"},
        {SleepLogLine::restoringSwitch, "Turning the sleep switch back on"},
        {SleepLogLine::restoreUnconfirmed,
         "WARNING: the sleep switch may still be off after the restore "
         "attempt — keeping it tracked for retry"},
        {SleepLogLine::staleMarkerRemoved,
         "Stale sleep switch marker found (system reports sleep enabled) — removing it"},
        {SleepLogLine::stuckSwitchFound,
         "Sleep switch marker from a previous run found — turning the sleep switch back on"},
        {SleepLogLine::requestingSleepNow, "Requesting suspend"},
        {SleepLogLine::sleepNowFailedPrefix, "Suspend failed: "},
        {SleepLogLine::markerWriteFailedPrefix, "Failed to write sleep switch marker: "},
        {SleepLogLine::launchRepairUnconfirmed,
         "Launch repair could not confirm the sleep switch back on — "
         "surfacing stale-block banner"},
        {SleepLogLine::adoptedAtLaunch,
         "Adopted a sleep switch left off at launch (lid-closed on); normal "
         "release/quit will turn it back on"},
        {SleepLogLine::surfacedAtLaunch,
         "Sleep switch left off found at launch (lid-closed off) — surfacing "
         "restore banner"},
        {SleepLogLine::releaseUnconfirmed,
         "Sleep restore did not confirm the sleep switch back on — surfacing "
         "stale-block banner"},
        {SleepLogLine::sleepNowUnconfirmed,
         "Completion/battery sleep could not turn the sleep switch back on "
         "— surfacing stale-block banner"},
        {SleepLogLine::restoringStaleSwitch,
         "Turning back on a sleep switch left off by a previous run"},
    }}));
    return wording;
}

} // namespace nodwarden
