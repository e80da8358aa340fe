#include <NodwardenApp/model/PanelTexts.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/metrics/UsageMetrics.hpp>

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
    return std::to_string(workingAgentCount(rows)) + " working";
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
    return run->agentDisplayName().value_or("An agent") + " ran " +
           compactDuration(run->workedSeconds());
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

std::string panelTrulySavedText(const UsageMetrics& metrics) {
    const double protectedSeconds = metrics.totalProtectedSeconds();
    if (!(protectedSeconds > 0)) {
        return "Close the lid on a run to bank your first save";
    }
    // to_chars, unlike printf, never takes the decimal separator from the process locale.
    char hours[64];
    const auto written = std::to_chars(std::begin(hours), std::end(hours), protectedSeconds / 3600,
                                       std::chars_format::fixed, 1);
    const std::int64_t saved = metrics.totalSessionsSaved();
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
