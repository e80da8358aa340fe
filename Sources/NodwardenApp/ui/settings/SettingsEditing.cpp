#include "SettingsEditing.hpp"

#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace nodwarden::app::SettingsEditing {

namespace {

QString oneDecimal(double value) {
    return QString::asprintf("%.1f", value);
}

} // namespace

GuardPowerProfile clampedProfile(GuardPowerProfile profile) {
    profile.batteryCutoffPercent = std::clamp(profile.batteryCutoffPercent, 0, 100);
    profile.warningPercent = std::clamp(profile.warningPercent, profile.batteryCutoffPercent, 100);
    profile.idleGracePeriodSeconds = std::clamp(profile.idleGracePeriodSeconds, 10.0, 900.0);
    profile.cpuThresholdPercent = std::clamp(profile.cpuThresholdPercent, 0.0, 100.0);
    return profile;
}

std::vector<std::string> withAgentEnabled(std::vector<std::string> disabled,
                                          const std::string& agentID, bool enabled) {
    if (enabled) {
        std::erase(disabled, agentID);
    } else {
        disabled.push_back(agentID);
    }
    std::sort(disabled.begin(), disabled.end());
    disabled.erase(std::unique(disabled.begin(), disabled.end()), disabled.end());
    return disabled;
}

std::vector<std::string> customAppsFromText(const QString& text) {
    std::vector<std::string> names;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty()) {
            names.push_back(trimmed.toStdString());
        }
    }
    return names;
}

QString customAppsText(const std::vector<std::string>& names) {
    QStringList lines;
    for (const std::string& name : names) {
        lines.append(QString::fromStdString(name));
    }
    return lines.join(QLatin1Char('\n'));
}

QString currentProfileName(bool isOnACPower) {
    return isOnACPower ? QCoreApplication::translate("Settings", "Plugged In")
                       : QCoreApplication::translate("Settings", "On Battery");
}

QString lidClosedPreventionText(bool engaged, bool warningPresent) {
    if (engaged) {
        return QCoreApplication::translate("Settings", "Enabled");
    }
    return warningPresent
               ? QCoreApplication::translate("Settings", "Not active — needs admin approval")
               : QCoreApplication::translate("Settings", "Disabled");
}

QString runDuration(double seconds) {
    // Truncated toward zero; a negative stored figure reads as no time at all.
    const long long whole = seconds > 0 ? static_cast<long long>(std::trunc(seconds)) : 0;
    const long long minutes = (whole % 3600) / 60;
    if (whole < 3600) {
        return QString::number(minutes) + QStringLiteral("m");
    }
    return QString::number(whole / 3600) + QStringLiteral("h") + QString::number(minutes) +
           QStringLiteral("m");
}

bool isStatsEmpty(const UsageMetrics& metrics) {
    return metrics.totalProtectedSeconds() == 0 && metrics.totalKeptAwakeSeconds() == 0 &&
           metrics.totalWorkSessions() == 0;
}

QString impactHeadline(const UsageMetrics& metrics, const QString& protectedCaption, bool inWords) {
    const auto saved = metrics.totalSessionsSaved();
    const QString stopped =
        saved == 1 ? QCoreApplication::translate("Settings", "1 sleep stopped")
                   : QCoreApplication::translate("Settings", "%1 sleeps stopped").arg(saved);
    return QCoreApplication::translate("Settings", "%1 %2 · %3")
        .arg(hoursText(metrics.totalProtectedSeconds(), inWords), protectedCaption, stopped);
}

QString keptWorkingLine(const UsageMetrics& metrics, bool inWords) {
    if (inWords) {
        return QCoreApplication::translate("SettingsEditing", "Kept awake %1 for agents (lid open)")
            .arg(hoursText(metrics.totalKeptAwakeSeconds(), true));
    }
    return QCoreApplication::translate("Settings", "Kept working %1 (lid open)")
        .arg(hoursText(metrics.totalKeptAwakeSeconds()));
}

QString recoveredLine(const UsageMetrics& metrics, bool inWords) {
    return QCoreApplication::translate(
               "Settings",
               "Recovered ≈ %1 of work that would otherwise have been interrupted by sleep.")
        .arg(hoursText(metrics.totalProtectedSeconds(), inWords));
}

QString longestRunLine(const UsageMetrics& metrics) {
    if (!(metrics.longestProtectedRunSeconds() > 0)) {
        return QCoreApplication::translate("Settings", "No closed-lid run yet.");
    }
    QString line = QCoreApplication::translate("Settings", "Longest protected run: %1")
                       .arg(runDuration(metrics.longestProtectedRunSeconds()));
    if (const auto& agent = metrics.longestProtectedRunAgent()) {
        line += QStringLiteral(" — ") + QString::fromStdString(*agent);
    }
    return line;
}

std::vector<std::pair<std::string, double>> agentsByProtectedTime(const UsageMetrics& metrics) {
    const auto byAgent = metrics.protectedSecondsByAgent();
    std::vector<std::pair<std::string, double>> entries(byAgent.begin(), byAgent.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return entries;
}

QString hoursText(double seconds, bool inWords) {
    if (inWords) {
        return QString::fromStdString(PanelTexts::statisticsDuration(seconds));
    }
    return QCoreApplication::translate("Settings", "%1 hrs").arg(oneDecimal(seconds / 3600));
}

} // namespace nodwarden::app::SettingsEditing
