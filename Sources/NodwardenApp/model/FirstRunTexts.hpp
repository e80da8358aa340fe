#pragma once

#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/Notices.hpp>

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

inline const QString legalHeading = QStringLiteral("Welcome to Stayloom");
// The subtitle and the two paragraphs name the machine: they are in `PlatformWording`.
inline const QString privacyTitle = QStringLiteral("Private by design");
inline const QString responsibilityTitle = QStringLiteral("Use it responsibly");
inline const QString acceptIntro = QStringLiteral("By clicking “I Agree,” you accept our");
inline const QString quitLabel = QStringLiteral("Quit");
inline const QString agreeLabel = QStringLiteral("I Agree");

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

inline const QString onboardingTitle = QStringLiteral("Set Up Stayloom");
inline constexpr int stepCount = 3;

inline const QString agentsStepTitle = QStringLiteral("Confirm which agents to watch");
inline const QString agentsStepDetail = QStringLiteral(
    "Only checked agents are monitored — and only while they are actually running. Browsers and "
    "custom apps can be added later in Settings.");
// The screen-text step's title, button and granted line name the platform's permission: they are
// in `PlatformWording`.
inline const QString waitingResult =
    QStringLiteral("Open Claude, Cursor, or another agent and start a task — this check updates "
                   "live every few seconds.");
inline const QString backLabel = QStringLiteral("Back");
inline const QString continueLabel = QStringLiteral("Continue");
inline const QString doneLabel = QStringLiteral("Done");
inline const QString openSettingsLabel = QStringLiteral("Open Settings…");
inline const QString launchAtLoginLabel = QStringLiteral("Launch Stayloom at login");

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
