#pragma once

#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>
#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <QCoreApplication>
#include <QString>

#include <string>
#include <vector>

namespace nodwarden::app {

struct PlatformWording;

/// The one place where the shared library's codes become shown words: the decisions' and the
/// signals' reasons and the notes about screen-text reading. Where the platform shows the
/// library's sentences they come back exactly as written; elsewhere the platform's
/// own sentences are put together from the code and its values, in the user's language.
class ReasonTexts {
    Q_DECLARE_TR_FUNCTIONS(ReasonTexts)

public:
    static QString decision(const GuardDecision& decision, const PlatformWording& wording);
    /// A signal's reason, as an agent's row and the decision for active work show it.
    static QString signal(const ActivitySignal& signal, const PlatformWording& wording);

    /// The panel's warning that screen-text reading is off while agents that only it can see
    /// run; none when it is on or no such agent runs.
    static std::optional<QString> accessibilityWarning(const std::vector<AgentProfile>& running,
                                                       bool accessibilityTrusted,
                                                       const PlatformWording& wording);
    /// The first-run step's note for the watched agents.
    static QString onboardingNote(const std::vector<AgentProfile>& watched,
                                  const PlatformWording& wording);
    /// The first-run flow's live headline.
    static Onboarding::DetectionHeadline
    detectionHeadline(SignalStrength strength, const std::optional<std::string>& appName,
                      const PlatformWording& wording);

    /// The status's name ("Keeping Awake").
    static QString statusName(GuardStatus status, const PlatformWording& wording);
    /// "Open", "Closed", "Unknown".
    static QString lidName(LidState lid, const PlatformWording& wording);
    /// "80%, AC Power", "Battery unknown, Battery".
    static QString powerDescription(const PowerSnapshot& power, const PlatformWording& wording);
    /// An agent row's state word ("working", "probably working", "grace", "idle"), the one
    /// `status --json` keeps, as shown.
    static QString agentState(const std::string& state);

    /// "A", "A and B", "A, B and C", "A, B and 2 more".
    static QString shortList(const std::vector<std::string>& names);

private:
    static QString signalReason(ReasonCode code, const QString& agent, const QString& detail,
                                const QString& libraryText);
};

} // namespace nodwarden::app
