#include <NodwardenApp/model/PanelTexts.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace nodwarden::app::PanelTexts {
namespace {

constexpr std::string_view separator = " \u00B7 ";

/// Far beyond any real duration (about 31 million years) yet well inside the range of
/// std::int64_t, so converting a clamped value is always defined.
constexpr double maxSeconds = 1e15;

/// `seconds` as a whole number no greater than `maxSeconds`; NaN counts as 0.
std::int64_t clampedWholeSeconds(double seconds) {
    if (std::isnan(seconds)) {
        return 0;
    }
    return static_cast<std::int64_t>(std::clamp(seconds, -maxSeconds, maxSeconds));
}

/// `text` in the user's language, with `%1` replaced by `argument` when given.
std::string translated(const char* text, const std::string& argument = {}) {
    QString result = QCoreApplication::translate("PanelTexts", text);
    if (!argument.empty()) {
        result = result.arg(QString::fromStdString(argument));
    }
    return result.toStdString();
}

std::string twoDigits(std::int64_t value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

} // namespace

bool watchesNothing(const GuardSettings& settings) {
    return settings.targetApps.empty() && AgentResolver::shared(settings)->profiles.empty();
}

int workingAgentCount(const std::vector<AgentStatusRow>& rows) {
    return static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                          [](const AgentStatusRow& row) { return row.isWorking; }));
}

std::string agentSummary(const std::vector<AgentStatusRow>& rows) {
    if (rows.empty()) {
        return "none detected";
    }
    const auto waiting = std::count_if(rows.begin(), rows.end(),
                                       [](const AgentStatusRow& row) { return row.isWaiting; });
    return std::to_string(workingAgentCount(rows)) + " working" +
           (waiting > 0 ? " · " + std::to_string(waiting) + " waiting for you" : std::string());
}

std::string_view statusIconName(GuardStatus status, const std::vector<AgentStatusRow>& rows) {
    const bool waiting = std::any_of(rows.begin(), rows.end(),
                                     [](const AgentStatusRow& row) { return row.isWaiting; });
    // An agent's question outranks the guard's own state, except where the guard is off.
    return waiting && status != GuardStatus::off ? "questionmark.bubble" : statusIconName(status);
}

std::string_view statusIconName(GuardStatus status) {
    switch (status) {
    case GuardStatus::off:
        return "moon.zzz";
    case GuardStatus::watching:
        return "eye";
    case GuardStatus::keepingAwake:
        return "bolt.fill";
    case GuardStatus::idleGrace:
        return "hourglass";
    case GuardStatus::batterySafety:
        return "battery.25";
    case GuardStatus::thermalSafety:
        return "thermometer.high";
    case GuardStatus::pluggedInUnlimited:
        return "powerplug.fill";
    }
    return "moon.zzz";
}

std::string_view heroGlyph(GuardStatus status) {
    switch (status) {
    case GuardStatus::off:
        return "moon.zzz.fill";
    case GuardStatus::watching:
        return "eye.fill";
    case GuardStatus::batterySafety:
        return "exclamationmark.triangle.fill";
    case GuardStatus::keepingAwake:
    case GuardStatus::idleGrace:
    case GuardStatus::thermalSafety:
    case GuardStatus::pluggedInUnlimited:
        return statusIconName(status);
    }
    return "moon.zzz.fill";
}

std::optional<std::string> lidClosedWarning(bool keepAwakeWithLidClosed,
                                            bool sleepPreventionEnabled,
                                            bool lidClosedProtectionEngaged,
                                            bool sleepCommandInFlight) {
    if (!keepAwakeWithLidClosed || !sleepPreventionEnabled || lidClosedProtectionEngaged ||
        sleepCommandInFlight) {
        return std::nullopt;
    }
    return "Lid-closed protection is NOT active \u2014 macOS needs your admin password. Your Mac "
           "stays awake only while the lid is open. Turn \u201CKeep awake with the lid "
           "closed\u201D off and on in Settings, then approve the prompt.";
}

std::string panelLastRunAgent(const UsageMetrics& metrics) {
    const auto& run = metrics.lastRun();
    if (!run) {
        return {};
    }
    // The same length as the work-done notice and the ledger's worked_s.
    return run->agentDisplayName().value_or("An agent") + " ran " +
           durationWords(run->workedSeconds());
}

std::string panelLastRunDetail(const UsageMetrics& metrics, Date now) {
    const auto& run = metrics.lastRun();
    if (!run) {
        return {};
    }
    std::string text =
        run->protectedSeconds() >= run->keptAwakeSeconds() ? "protected" : "stayed awake";
    const double awake = run->protectedSeconds() + run->keptAwakeSeconds();
    if (run->finishedNormally() && run->workedSeconds() > 0 &&
        awake >= 0.9 * run->workedSeconds()) {
        text += " the whole run";
    }
    return text + std::string(separator) + relativeTime(run->endedAt(), now);
}

std::string statisticsDuration(double seconds) {
    if (!(seconds >= 60)) {
        // Short enough for the panel's figure; the minute is the statistics' unit.
        return translated("0 min");
    }
    return durationWords(std::floor(seconds / 60) * 60);
}

std::string panelTrulySavedText(const UsageMetrics& metrics, bool inWords) {
    const double protectedSeconds = metrics.totalProtectedSeconds();
    if (!(protectedSeconds > 0)) {
        return "Close the lid on a run to bank your first save";
    }
    const std::int64_t saved = metrics.totalSessionsSaved();
    if (inWords) {
        return statisticsDuration(protectedSeconds) + " truly saved" + std::string(separator) +
               std::to_string(saved) + (saved == 1 ? " sleep" : " sleeps") + " stopped";
    }
    // to_chars, unlike printf, never takes the decimal separator from the process locale.
    char hours[64];
    const auto written = std::to_chars(std::begin(hours), std::end(hours), protectedSeconds / 3600,
                                       std::chars_format::fixed, 1);
    return std::string(hours, written.ptr) + "h truly saved" + std::string(separator) +
           std::to_string(saved) + (saved == 1 ? " sleep" : " sleeps") + " stopped";
}

std::string elapsedShort(double seconds) {
    const std::int64_t s = std::max<std::int64_t>(0, clampedWholeSeconds(std::trunc(seconds)));
    if (s <= 59) {
        return std::to_string(s) + "s";
    }
    if (s < 3600) {
        return std::to_string(s / 60) + "m";
    }
    return std::to_string(s / 3600) + "h " + std::to_string(s % 3600 / 60) + "m";
}

std::string compactDuration(double seconds) {
    const std::int64_t s = clampedWholeSeconds(std::round(seconds));
    if (s < 60) {
        return "<1m";
    }
    if (s < 3600) {
        return std::to_string(s / 60) + "m";
    }
    const std::int64_t hours = s / 3600;
    const std::int64_t minutes = s % 3600 / 60;
    std::string text = std::to_string(hours) + "h";
    if (minutes > 0) {
        text += ' ';
        text += std::to_string(minutes);
        text += 'm';
    }
    return text;
}

std::string durationWords(double seconds) {
    const std::int64_t s = std::max<std::int64_t>(0, clampedWholeSeconds(std::trunc(seconds)));
    const std::int64_t hours = s / 3600;
    const std::int64_t minutes = s % 3600 / 60;
    const std::int64_t rest = s % 60;
    const auto words = [](const char* text, std::int64_t first, std::int64_t second) {
        return QCoreApplication::translate("PanelTexts", text).arg(first).arg(second).toStdString();
    };
    if (hours > 0) {
        return minutes > 0 ? words("%1 h %2 min", hours, minutes)
                           : translated("%1 h", std::to_string(hours));
    }
    if (minutes > 0) {
        return rest > 0 ? words("%1 min %2 s", minutes, rest)
                        : translated("%1 min", std::to_string(minutes));
    }
    return translated("%1 s", std::to_string(rest));
}

std::string countdown(double secondsLeft) {
    const std::int64_t s = std::max<std::int64_t>(0, clampedWholeSeconds(std::ceil(secondsLeft)));
    if (s >= 3600) {
        return std::to_string(s / 3600) + ":" + twoDigits(s % 3600 / 60) + ":" + twoDigits(s % 60);
    }
    return std::to_string(s / 60) + ":" + twoDigits(s % 60);
}

std::string graceCountdown(double secondsLeft) {
    return translated("sleeps in %1", countdown(secondsLeft));
}

std::string timeLeft(double secondsLeft) {
    const std::int64_t s = std::max<std::int64_t>(0, clampedWholeSeconds(std::ceil(secondsLeft)));
    if (s < 60) {
        return durationWords(double(s));
    }
    // Whole minutes, rounded up, so "1 min left" never hides a minute and a half.
    const std::int64_t minutesUp = (s + 59) / 60;
    return durationWords(double(minutesUp * 60));
}

std::string timedKeepAwakeLeft(Date until, Date now) {
    const auto unixSeconds = qint64(std::floor(unixTimeFromDate(until)));
    const QString clock =
        QDateTime::fromSecsSinceEpoch(unixSeconds).toLocalTime().toString(QStringLiteral("HH:mm"));
    return QCoreApplication::translate("PanelTexts", "until %1 · %2 left")
        .arg(clock, QString::fromStdString(timeLeft(until - now)))
        .toStdString();
}

std::string relativeTime(Date from, Date now) {
    const double elapsed = now - from;
    if (!(elapsed >= 60)) { // also a future date, and NaN
        return "just now";
    }
    const std::int64_t e = clampedWholeSeconds(elapsed);
    if (e < 3600) {
        return std::to_string(e / 60) + "m ago";
    }
    if (e < 86400) {
        return std::to_string(e / 3600) + "h ago";
    }
    const std::int64_t days = e / 86400;
    return days == 1 ? std::string("yesterday") : std::to_string(days) + "d ago";
}

} // namespace nodwarden::app::PanelTexts
