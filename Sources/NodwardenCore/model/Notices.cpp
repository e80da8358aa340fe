#include <NodwardenCore/model/Notices.hpp>

namespace nodwarden {

namespace Legal {

bool needsAcceptance(const std::optional<std::string>& acceptedVersion) {
    return needsAcceptance(acceptedVersion, currentVersion);
}

bool needsAcceptance(const std::optional<std::string>& acceptedVersion,
                     std::string_view requiredVersion) {
    return !acceptedVersion || *acceptedVersion != requiredVersion;
}

} // namespace Legal

namespace Onboarding {

bool needsOnboarding(bool hasCompleted, bool needsLegalAcceptance) {
    return !hasCompleted && !needsLegalAcceptance;
}

DetectionHeadline detectionHeadline(SignalStrength strength,
                                    const std::optional<std::string>& appName) {
    if (!appName || appName->empty() || strength == SignalStrength::none) {
        return {"No agents detected yet", false};
    }
    if (strength == SignalStrength::presence) {
        return {"Watching — " + *appName + " detected", true};
    }
    return {"Watching — " + *appName + " is working", true};
}

} // namespace Onboarding

namespace AccessibilityNotice {

namespace {

std::string_view verbFor(const std::vector<std::string>& names) {
    return names.size() == 1 ? "is" : "are";
}

} // namespace

bool isUITextOnly(const AgentProfile& profile) {
    return !profile.trustsCPUSignal && profile.sessionActivityGlobs.empty();
}

std::vector<std::string> uiTextOnlyNames(const std::vector<AgentProfile>& profiles) {
    std::vector<std::string> names;
    for (const auto& profile : profiles) {
        if (isUITextOnly(profile)) {
            names.push_back(profile.displayName);
        }
    }
    return names;
}

std::string shortList(const std::vector<std::string>& names) {
    switch (names.size()) {
    case 0:
        return "";
    case 1:
        return names[0];
    case 2:
        return names[0] + " and " + names[1];
    case 3:
        return names[0] + ", " + names[1] + " and " + names[2];
    default:
        return names[0] + ", " + names[1] + " and " + std::to_string(names.size() - 2) + " more";
    }
}

OnboardingNoteCase onboardingNoteCase(const std::vector<AgentProfile>& watched) {
    const auto names = uiTextOnlyNames(watched);
    if (names.empty()) {
        return OnboardingNoteCase::optional;
    }
    return names.size() == watched.size() ? OnboardingNoteCase::requiredForAll
                                          : OnboardingNoteCase::neededForSome;
}

std::string onboardingNote(const std::vector<AgentProfile>& watched) {
    const auto names = uiTextOnlyNames(watched);
    switch (onboardingNoteCase(watched)) {
    case OnboardingNoteCase::optional:
        return "Optional: your watched agents are detected without it.";
    case OnboardingNoteCase::requiredForAll:
        return "Required for your agents: without it, Stayloom cannot tell when " +
               shortList(names) + " " + std::string(verbFor(names)) +
               " working, so it will not keep your Mac awake.";
    case OnboardingNoteCase::neededForSome:
        break;
    }
    return "Needed for " + shortList(names) +
           ": without it, their work cannot be seen. Your other agents are still detected "
           "without it.";
}

std::optional<std::string> panelWarning(const std::vector<AgentProfile>& running,
                                        bool accessibilityTrusted) {
    if (accessibilityTrusted) {
        return std::nullopt;
    }
    const auto names = uiTextOnlyNames(running);
    if (names.empty()) {
        return std::nullopt;
    }
    const std::string pronoun = names.size() == 1 ? "it" : "them";
    return "Accessibility access is off — Stayloom cannot tell when " + shortList(names) + " " +
           std::string(verbFor(names)) + " working, so it will not keep your Mac awake for " +
           pronoun + ".";
}

} // namespace AccessibilityNotice
} // namespace nodwarden
