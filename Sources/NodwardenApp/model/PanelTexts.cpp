#include <NodwardenApp/model/PanelTexts.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
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

std::string utf8(const QString& text) {
    return text.toStdString();
}

QString number(std::int64_t value) {
    return QString::number(value);
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
        return utf8(QCoreApplication::translate("PanelTexts", "none detected"));
    }
    const auto waiting = std::count_if(rows.begin(), rows.end(),
                                       [](const AgentStatusRow& row) { return row.isWaiting; });
    const QString working =
        QCoreApplication::translate("PanelTexts", "%1 working").arg(workingAgentCount(rows));
    if (waiting == 0) {
        return utf8(working);
    }
    return utf8(working) + std::string(separator) +
           utf8(QCoreApplication::translate("PanelTexts", "%1 waiting for you").arg(waiting));
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
    const QString duration = QString::fromStdString(durationWords(run->workedSeconds()));
    if (const auto& name = run->agentDisplayName()) {
        return utf8(QCoreApplication::translate("PanelTexts", "%1 ran %2")
                        .arg(QString::fromStdString(*name), duration));
    }
    return utf8(QCoreApplication::translate("PanelTexts", "An agent ran %1").arg(duration));
}

std::string panelLastRunDetail(const UsageMetrics& metrics, Date now) {
    const auto& run = metrics.lastRun();
    if (!run) {
        return {};
    }
    const bool wasProtected = run->protectedSeconds() >= run->keptAwakeSeconds();
    const double awake = run->protectedSeconds() + run->keptAwakeSeconds();
    const bool wholeRun =
        run->finishedNormally() && run->workedSeconds() > 0 && awake >= 0.9 * run->workedSeconds();
    QString text;
    if (wasProtected) {
        text = wholeRun ? QCoreApplication::translate("PanelTexts", "protected the whole run")
                        : QCoreApplication::translate("PanelTexts", "protected");
    } else {
        text = wholeRun ? QCoreApplication::translate("PanelTexts", "stayed awake the whole run")
                        : QCoreApplication::translate("PanelTexts", "stayed awake");
    }
    return utf8(text) + std::string(separator) + relativeTime(run->endedAt(), now);
}

std::string statisticsDuration(double seconds) {
    if (!(seconds >= 60)) {
        // Short enough for the panel's figure; the minute is the statistics' unit.
        return translated("0 min");
    }
    return durationWords(std::floor(seconds / 60) * 60);
}

QString panelTrulySavedText(const UsageMetrics& metrics, const PlatformWording& wording) {
    const double protectedSeconds = metrics.totalProtectedSeconds();
    if (!(protectedSeconds > 0)) {
        return wording.nothingProtectedYet;
    }
    const std::int64_t saved = metrics.totalSessionsSaved();
    const QString stopped =
        saved == 1
            ? QCoreApplication::translate("PanelTexts", "1 sleep stopped")
            : QCoreApplication::translate("PanelTexts", "%1 sleeps stopped").arg(number(saved));
    if (wording.statisticsInWords) {
        return QCoreApplication::translate("PanelTexts", "%1 %2")
                   .arg(QString::fromStdString(statisticsDuration(protectedSeconds)),
                        wording.protectedCaption) +
               QString::fromUtf8(separator.data(), qsizetype(separator.size())) + stopped;
    }
    // to_chars, unlike printf, never takes the decimal separator from the process locale.
    char hours[64];
    const auto written = std::to_chars(std::begin(hours), std::end(hours), protectedSeconds / 3600,
                                       std::chars_format::fixed, 1);
    // The figure keeps its point whatever the language: the caption and count read around it.
    const QString figure = QString::fromUtf8(hours, written.ptr - hours);
    return QCoreApplication::translate("PanelTexts", "%1h %2")
               .arg(figure, wording.protectedCaption) +
           QString::fromUtf8(separator.data(), qsizetype(separator.size())) + stopped;
}

std::string elapsedShort(double seconds) {
    const std::int64_t s = std::max<std::int64_t>(0, clampedWholeSeconds(std::trunc(seconds)));
    if (s <= 59) {
        return utf8(QCoreApplication::translate("PanelTexts", "%1s").arg(number(s)));
    }
    if (s < 3600) {
        return utf8(QCoreApplication::translate("PanelTexts", "%1m").arg(number(s / 60)));
    }
    return utf8(QCoreApplication::translate("PanelTexts", "%1h %2m")
                    .arg(number(s / 3600), number(s % 3600 / 60)));
}

std::string compactDuration(double seconds) {
    const std::int64_t s = clampedWholeSeconds(std::round(seconds));
    if (s < 60) {
        return utf8(QCoreApplication::translate("PanelTexts", "<1m"));
    }
    if (s < 3600) {
        return utf8(QCoreApplication::translate("PanelTexts", "%1m").arg(number(s / 60)));
    }
    const std::int64_t hours = s / 3600;
    const std::int64_t minutes = s % 3600 / 60;
    if (minutes == 0) {
        return utf8(QCoreApplication::translate("PanelTexts", "%1h").arg(number(hours)));
    }
    return utf8(
        QCoreApplication::translate("PanelTexts", "%1h %2m").arg(number(hours), number(minutes)));
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
        return utf8(QCoreApplication::translate("PanelTexts", "just now"));
    }
    const std::int64_t e = clampedWholeSeconds(elapsed);
    if (e < 3600) {
        return utf8(QCoreApplication::translate("PanelTexts", "%1m ago").arg(number(e / 60)));
    }
    if (e < 86400) {
        return utf8(QCoreApplication::translate("PanelTexts", "%1h ago").arg(number(e / 3600)));
    }
    const std::int64_t days = e / 86400;
    return days == 1 ? utf8(QCoreApplication::translate("PanelTexts", "yesterday"))
                     : utf8(QCoreApplication::translate("PanelTexts", "%1d ago").arg(number(days)));
}

// MARK: - Of the model's current state

std::optional<QString> lidClosedWarning(const AppModel& model) {
    const SleepCommands& sleep = model.sleepCommands();
    const auto warning =
        lidClosedWarning(model.settings().keepAwakeWithLidClosed, sleep.sleepPreventionEnabled(),
                         sleep.lidClosedProtectionEngaged(), sleep.inFlight());
    // The library decides when; the platform says what to do about it.
    return warning ? std::optional<QString>(model.wording().lidClosedWarning) : std::nullopt;
}

QString panelLastRunAgent(const AppModel& model) {
    return detail::qstring(panelLastRunAgent(model.metrics()));
}

QString panelLastRunDetail(const AppModel& model) {
    return detail::qstring(panelLastRunDetail(model.metrics(), model.currentTime()));
}

QString panelTrulySavedText(const AppModel& model) {
    return panelTrulySavedText(model.metrics(), model.wording());
}

} // namespace nodwarden::app::PanelTexts
