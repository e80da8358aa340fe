#pragma once

#include <NodwardenCore/model/GuardPowerProfile.hpp>

#include <QString>
#include <QStringList>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace nodwarden {
class UsageMetrics;
}

namespace nodwarden::app {

/// The settings window's own rules for turning edits into settings and statistics into text.
namespace SettingsEditing {

/// `profile` with cutoff in 0…100, warning in cutoff…100, idle grace in 10…900 seconds and CPU
/// threshold in 0…100, clamped in that order.
GuardPowerProfile clampedProfile(GuardPowerProfile profile);

/// `disabled` with `agentID` removed (enabled) or added (disabled), sorted and without duplicates.
std::vector<std::string> withAgentEnabled(std::vector<std::string> disabled,
                                          const std::string& agentID, bool enabled);

/// The custom-apps field's lines, each trimmed, empty ones dropped.
std::vector<std::string> customAppsFromText(const QString& text);
/// The names joined by line feeds.
QString customAppsText(const std::vector<std::string>& names);

/// "Plugged In" on mains power, else "On Battery".
QString currentProfileName(bool isOnACPower);

/// "Enabled", "Not active — needs admin approval" or "Disabled".
QString lidClosedPreventionText(bool engaged, bool warningPresent);

/// Whole seconds, truncated: "0m", "59m", "1h0m", "2h5m".
QString runDuration(double seconds);

/// No protected or kept-awake time and no closed session.
bool isStatsEmpty(const UsageMetrics& metrics);
/// "2.5 hrs <protectedCaption> · 3 sleeps stopped" ("2 h 30 min …" `inWords`).
QString impactHeadline(const UsageMetrics& metrics, const QString& protectedCaption,
                       bool inWords = false);
/// "Kept working 1.0 hrs (lid open)".
/// "Kept awake 7 h 24 min for agents (lid open)" `inWords`.
QString keptWorkingLine(const UsageMetrics& metrics, bool inWords = false);
/// "Recovered ≈ 2.5 hrs of work that would otherwise have been interrupted by sleep."
QString recoveredLine(const UsageMetrics& metrics, bool inWords = false);
/// "Longest protected run: 2h5m — Claude Code"; "No closed-lid run yet." without one.
QString longestRunLine(const UsageMetrics& metrics);
/// Protected seconds per agent, largest first; equal values keep the map's order.
std::vector<std::pair<std::string, double>> agentsByProtectedTime(const UsageMetrics& metrics);
/// "1.5 hrs".
/// "7 h 24 min" `inWords`.
QString hoursText(double seconds, bool inWords = false);

} // namespace SettingsEditing
} // namespace nodwarden::app
