#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Which version of the terms must be accepted (the acceptance is stored under
/// `StoredKeys::acceptedLegalVersion` and `StoredKeys::acceptedLegalDate`).
namespace Legal {

inline constexpr std::string_view currentVersion = "1.6";

/// True when nothing was accepted or the accepted version is not exactly `currentVersion`.
bool needsAcceptance(const std::optional<std::string>& acceptedVersion);
/// The same rule against `requiredVersion`, for a platform whose terms carry their own version.
bool needsAcceptance(const std::optional<std::string>& acceptedVersion,
                     std::string_view requiredVersion);

} // namespace Legal

/// Whether to show the first-run flow (its completion is stored under
/// `StoredKeys::hasCompletedOnboarding`), and the live detection headline it displays.
namespace Onboarding {

/// The first-run flow waits for the terms and is never shown again once completed.
bool needsOnboarding(bool hasCompleted, bool needsLegalAcceptance);

/// The headline of the first-run flow's live detection step.
struct DetectionHeadline {
    std::string text;
    /// Whether an agent was found at all.
    bool detected = false;

    bool operator==(const DetectionHeadline&) const = default;
};

DetectionHeadline detectionHeadline(SignalStrength strength,
                                    const std::optional<std::string>& appName);

} // namespace Onboarding

/// Notes about agents that can only be seen through on-screen text, which needs the
/// Accessibility permission.
namespace AccessibilityNotice {

/// True for an agent with neither a trusted CPU signal nor session files.
bool isUITextOnly(const AgentProfile& profile);

/// Display names of the on-screen-text-only profiles, in the given order, duplicates kept.
std::vector<std::string> uiTextOnlyNames(const std::vector<AgentProfile>& profiles);

/// "A", "A and B", "A, B and C", "A, B and 2 more"; empty for no names.
std::string shortList(const std::vector<std::string>& names);

/// Which note the first-run flow's Accessibility step shows: none of the watched agents needs
/// the permission, all of them do, or some do (they are `uiTextOnlyNames(watched)`).
enum class OnboardingNoteCase { optional, requiredForAll, neededForSome };

OnboardingNoteCase onboardingNoteCase(const std::vector<AgentProfile>& watched);

/// The note of the first-run flow's Accessibility step for the watched agents.
std::string onboardingNote(const std::vector<AgentProfile>& watched);

/// The panel warning when running agents would go unseen without the permission; none when the
/// permission is granted or no running agent depends on it.
std::optional<std::string> panelWarning(const std::vector<AgentProfile>& running,
                                        bool accessibilityTrusted);

} // namespace AccessibilityNotice
} // namespace nodwarden
