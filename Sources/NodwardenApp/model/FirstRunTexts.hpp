#pragma once

#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/Notices.hpp>

#include <QCoreApplication>
#include <QString>
#include <QUrl>

#include <string>
#include <vector>

namespace nodwarden::app {

class AppModel;
struct PlatformWording;

/// The fixed texts of the terms and first-run windows, and the small mappings from the model's
/// state to what those windows show.
namespace FirstRun {

// MARK: Terms window

inline QString legalHeading() {
    return QCoreApplication::translate("FirstRun", "Welcome to Stayloom");
}
// The subtitle and the two paragraphs name the machine: they are in `PlatformWording`.
inline QString privacyTitle() {
    return QCoreApplication::translate("FirstRun", "Private by design");
}
inline QString responsibilityTitle() {
    return QCoreApplication::translate("FirstRun", "Use it responsibly");
}
inline QString acceptIntro() {
    return QCoreApplication::translate("FirstRun", "By clicking “I Agree,” you accept our");
}
inline QString quitLabel() {
    return QCoreApplication::translate("FirstRun", "Quit");
}
inline QString agreeLabel() {
    return QCoreApplication::translate("FirstRun", "I Agree");
}

/// One legal document linked from the terms window.
struct LegalLink {
    QString text;
    QString address;
    /// The link label's object name.
    QString objectName;
    /// The copy inside the program, shown in a window of its own.
    QUrl resource;

    bool operator==(const LegalLink&) const = default;
};

/// "EULA", "Privacy Policy" and "Terms". With an empty `base` (the default build) each address
/// is a file on this computer, so it opens offline; otherwise it is the page under `base` (a
/// trailing "/" of `base` is dropped so the addresses never carry an empty path segment).
std::vector<LegalLink> legalLinks(const QString& base);

/// The address of the terms among `legalLinks(base)`.
QString termsAddress(const QString& base);

// MARK: First-run window

inline QString onboardingTitle() {
    return QCoreApplication::translate("FirstRun", "Set Up Stayloom");
}
inline constexpr int stepCount = 3;

inline QString agentsStepTitle() {
    return QCoreApplication::translate("FirstRun", "Confirm which agents to watch");
}
inline QString agentsStepDetail() {
    return QCoreApplication::translate("FirstRun", "Only checked agents are monitored — and only "
                                                   "while they are actually running. Browsers and "
                                                   "custom apps can be added later in Settings.");
}
// The screen-text step's title, button and granted line name the platform's permission: they are
// in `PlatformWording`.
inline QString waitingResult() {
    return QCoreApplication::translate(
        "FirstRun", "Open Claude, Cursor, or another agent and start a task — this check updates "
                    "live every few seconds.");
}
inline QString backLabel() {
    return QCoreApplication::translate("FirstRun", "Back");
}
inline QString continueLabel() {
    return QCoreApplication::translate("FirstRun", "Continue");
}
inline QString doneLabel() {
    return QCoreApplication::translate("FirstRun", "Done");
}
inline QString openSettingsLabel() {
    return QCoreApplication::translate("FirstRun", "Open Settings…");
}
inline QString launchAtLoginLabel() {
    return QCoreApplication::translate("FirstRun", "Launch Stayloom at login");
}

/// One caption of the agents step and the catalogue agents listed under it.
struct AgentGroup {
    QString caption;
    std::vector<AgentProfile> profiles;
};

/// Command-line agents, desktop apps and editors from the built-in catalogue, in that order and
/// in catalogue order within each; browsers are left out.
std::vector<AgentGroup> agentGroups();

/// `settings` with `agentID` watched (removed from the switched-off agents) or not (added once).
GuardSettings withAgentWatched(GuardSettings settings, const std::string& agentID, bool watched);

/// The Accessibility step's detail: the fixed explanation followed by the note for the agents
/// watched under `settings`.
QString accessibilityDetail(const GuardSettings& settings, const PlatformWording& wording);

/// The live detection headline for the model's strongest signal and its first agent row.
Onboarding::DetectionHeadline detectionHeadline(const AppModel& model);

} // namespace FirstRun
} // namespace nodwarden::app
