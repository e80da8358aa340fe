#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenCore/detection/ProcessResolutions.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>
#include <NodwardenCore/detection/ToolRunWitness.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class AccessibilityDetector;
class ProcessDetector;
class SessionActivityDetector;

/// Process-table evidence: one signal per agent found in a reading of the process table, each
/// carrying the agent's count of independent processes.
class ProcessActivityDetecting {
public:
    virtual ~ProcessActivityDetecting() = default;
    /// The process table now; one reading serves every witness of a pass.
    virtual std::vector<ProcessSnapshot> liveSnapshot() = 0;
    virtual std::vector<ActivitySignal> detectPerApp(const std::vector<ProcessSnapshot>& processes,
                                                     const GuardSettings& settings,
                                                     const std::optional<PowerSnapshot>& power) = 0;
    /// The same over a pass that has resolved the table's rows already; by default the rows are
    /// resolved again.
    virtual std::vector<ActivitySignal> detectForPass(const DetectionPass& pass,
                                                      const std::optional<PowerSnapshot>& power);
};

/// On-screen text evidence: at most one signal per application name.
class ScreenTextActivityDetecting {
public:
    virtual ~ScreenTextActivityDetecting() = default;
    virtual std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings) = 0;
};

/// Session-file evidence: fresh session files per agent, and the number of live sessions.
class SessionActivityDetecting {
public:
    virtual ~SessionActivityDetecting() = default;
    virtual std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings, Date now,
                                                     TimeInterval freshnessWindow) = 0;
    virtual std::map<std::string, int> sessionCountsPerApp(const GuardSettings& settings, Date now,
                                                           TimeInterval window) = 0;
};

/// Runs the process, on-screen text and session-file detectors and merges their findings into
/// one signal per agent.
///
/// Witnesses that speak for one agent (its own status records, its readable screens, its chat,
/// its arguments) outrank that merge. Of their verdicts the one of the highest quality decides:
/// the agent's stated state over a screen, a screen over an inference such as "the chat's last
/// record is the user's"; among equals the witness asked first; a wait for the user, from any
/// witness, over work. The commands agents run through their tools then amend those verdicts
/// (`ToolRunWitness`): a turn lasts while its command runs. Working makes a `strong` signal;
/// idle leaves the agent's CPU, screen text and file times only as presence, because an agent
/// that says it waits for its user may still burn CPU or touch files. Session files whose
/// patterns belong to an agent whose own record spoke give no signal to any other profile.
///
/// Remembers when each agent's process was last seen, so that terminal text and session files
/// shared with other programs count only while the agent itself runs or ran very recently.
/// Not synchronised: calls on one detector must not overlap (the application makes them on its
/// serial detection queue).
class ActivityDetector {
public:
    /// How recently an agent's process must have been seen for its terminal text or its shared
    /// session files to count.
    static constexpr TimeInterval sharedSessionProcessWindow = 90;

    /// Over the library's own detectors, which must outlive this object.
    /// `verdictDetectors` are asked in order of trust; their order decides between verdicts of
    /// equal quality.
    ActivityDetector(ProcessDetector& processDetector, AccessibilityDetector& accessibilityDetector,
                     SessionActivityDetector& sessionDetector,
                     std::vector<AgentVerdictDetecting*> verdictDetectors = {});

    /// Over any detectors (scripted ones in tests), which must outlive this object.
    ActivityDetector(ProcessActivityDetecting& processDetector,
                     ScreenTextActivityDetecting& accessibilityDetector,
                     SessionActivityDetecting& sessionDetector,
                     std::vector<AgentVerdictDetecting*> verdictDetectors = {});

    ~ActivityDetector();
    ActivityDetector(const ActivityDetector&) = delete;
    ActivityDetector& operator=(const ActivityDetector&) = delete;

    /// One signal per agent, with its session count and process presence, sorted by agent name
    /// in code-point order.
    std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings,
                                             const PowerSnapshot& power, Date now);

    /// Whether an on-screen signal for `profile` counts: always for agents whose phrases are not
    /// looked for in terminals, else only when its process was seen within `window` seconds.
    static bool shouldEmitTerminalAccessibilitySignal(const AgentProfile& profile,
                                                      std::optional<Date> processLastSeenAt,
                                                      Date now, TimeInterval window);

    /// Whether a session-file signal for `profile` counts: always for agents whose session files
    /// are their own, else only when its process was seen within `window` seconds.
    static bool shouldEmitSessionSignal(const AgentProfile& profile,
                                        std::optional<Date> processLastSeenAt, Date now,
                                        TimeInterval window);

    /// The reason a verdict gives, naming the evidence that decided: "<agent> reports it is
    /// working" for a status record, "<agent> shows it is working" for a screen, "… idle"
    /// likewise; "<agent>'s chat awaits a reply" or "… ends with a reply" for a chat; "<agent>
    /// runs a one-shot prompt"; "<agent> has just started and has had no turn yet".
    static std::string verdictReason(const AgentVerdict& verdict);
    /// The code of that reason.
    static ReasonCode verdictReasonCode(const AgentVerdict& verdict);

    /// The end of the reason of an agent whose records lie where this user may not look.
    static constexpr std::string_view onlyCPUSpeaks = "only its CPU can speak";
    /// "<agent> runs where Stayloom may not read its files: only its CPU can speak".
    static std::string outOfReachReason(const std::string& agent);

private:
    struct OwnedAdapters;

    std::unique_ptr<OwnedAdapters> adapters_;
    ProcessActivityDetecting* processDetector_;
    ScreenTextActivityDetecting* accessibilityDetector_;
    SessionActivityDetecting* sessionDetector_;
    std::vector<AgentVerdictDetecting*> verdictDetectors_;
    ToolRunWitness toolRuns_;
    std::map<std::string, Date> processLastSeenAt_;
    /// What the table's processes resolved to, kept from pass to pass.
    ProcessResolutions resolutions_;
};

} // namespace nodwarden
