#pragma once

#include <NodwardenApp/model/AgentRows.hpp>

#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nodwarden {
class UsageMetrics;
}

namespace nodwarden::app {

class AppModel;
struct PlatformWording;

/// The short texts of the panel and the menu-bar icon, computed from the model's published state,
/// the statistics and the current time. Pure: the caller passes everything in, or the model the
/// faces read, for the texts they show of its current state.
namespace PanelTexts {

/// Whether `settings` leave nothing to watch: every agent switched off (browsers count only
/// while watched) and no custom app named.
bool watchesNothing(const GuardSettings& settings);

/// Rows that count as working.
int workingAgentCount(const std::vector<AgentStatusRow>& rows);

/// "2 working"; "0 working" when rows exist but none works; "none detected" without rows;
/// "1 working · 1 waiting for you" while agents wait for their user.
std::string agentSummary(const std::vector<AgentStatusRow>& rows);

/// Symbol-image name of the menu-bar icon for `status`.
std::string_view statusIconName(GuardStatus status);
/// The same, but a question mark while an agent waits for its user (unless the guard is off).
std::string_view statusIconName(GuardStatus status, const std::vector<AgentStatusRow>& rows);

/// Symbol-image name of the large status glyph in the panel for `status`.
std::string_view heroGlyph(GuardStatus status);

/// The warning shown while the Mac is held awake for a lid-closed run but the system sleep switch
/// could not be turned off; absent while a sleep command is still settling.
std::optional<std::string> lidClosedWarning(bool keepAwakeWithLidClosed,
                                            bool sleepPreventionEnabled,
                                            bool lidClosedProtectionEngaged,
                                            bool sleepCommandInFlight);

/// The same as the faces show it, in this platform's words, for `model`'s settings and sleep
/// commands now.
std::optional<QString> lidClosedWarning(const AppModel& model);

/// "Claude Code ran 1 h 5 min"; empty without a last run.
std::string panelLastRunAgent(const UsageMetrics& metrics);
QString panelLastRunAgent(const AppModel& model);

/// "protected the whole run · 2h ago"; empty without a last run.
std::string panelLastRunDetail(const UsageMetrics& metrics, Date now);
/// The same for `model`'s statistics at its current time.
QString panelLastRunDetail(const AppModel& model);

/// "2.5h truly saved · 3 sleeps stopped" ("2 h 30 min truly saved · …" where the platform
/// gives statistics in words), or an invitation while nothing has been protected.
QString panelTrulySavedText(const UsageMetrics& metrics, const PlatformWording& wording);
QString panelTrulySavedText(const AppModel& model);

/// A statistic's time in words, to the minute: "7 h 24 min", "0 min" (also under a minute).
std::string statisticsDuration(double seconds);

/// "45s", "12m", "2h 5m": whole seconds, truncated; negative counts as 0.
std::string elapsedShort(double seconds);

/// "<1m", "59m", "1h", "1h 1m": rounded to the nearest second, halves away from zero.
std::string compactDuration(double seconds);

/// A length in words, whole seconds truncated as the run ledger counts them: "35 s",
/// "1 min 30 s", "12 min", "1 h 5 min" (seconds are left out from an hour on).
std::string durationWords(double seconds);

/// A countdown on a clock face, rounded up so it never reads 0:00 while time is left: "0:05",
/// "1:18", "1:02:03".
std::string countdown(double secondsLeft);

/// "sleeps in 1:18": what is left of the idle grace.
std::string graceCountdown(double secondsLeft);

/// What is left of a timed keep-awake, in whole minutes rounded up ("59 min", "1 h 30 min"),
/// in seconds in its last minute.
std::string timeLeft(double secondsLeft);

/// "until 14:30 · 59 min left": a timed keep-awake's end on the local clock and the time left.
std::string timedKeepAwakeLeft(Date until, Date now);

/// "just now" (also for a future date), "5m ago", "3h ago", "yesterday", "4d ago".
std::string relativeTime(Date from, Date now);

} // namespace PanelTexts
} // namespace nodwarden::app
