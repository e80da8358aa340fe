#pragma once

#include <NodwardenCore/AgentCatalog.hpp>
#include <NodwardenCore/AgentVerdict.hpp>
#include <NodwardenCore/Date.hpp>
#include <NodwardenCore/Models.hpp>
#include <NodwardenCore/ProcessTableReading.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden {

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
/// Definite witnesses (the agents' own status records, readable screens) outrank that merge: the
/// first witness in the list that speaks for an agent decides for it. Working makes a `strong`
/// signal; idle leaves the agent's CPU, screen text and file times only as presence, because an
/// agent that says it waits for its user may still burn CPU or touch files.
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
    /// `verdictDetectors` are asked in order of trust (status records before screens).
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

    /// The first signal of `detectPerApp` with the highest strength, or `ActivitySignal::none`.
    ActivitySignal detect(const GuardSettings& settings, const PowerSnapshot& power, Date now);

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

    /// The reason a verdict gives: "<agent> reports it is working" for a status record,
    /// "<agent> shows it is working" for a screen, and "… idle" likewise.
    static std::string verdictReason(const AgentVerdict& verdict);

private:
    struct OwnedAdapters;

    std::unique_ptr<OwnedAdapters> adapters_;
    ProcessActivityDetecting* processDetector_;
    ScreenTextActivityDetecting* accessibilityDetector_;
    SessionActivityDetecting* sessionDetector_;
    std::vector<AgentVerdictDetecting*> verdictDetectors_;
    std::map<std::string, Date> processLastSeenAt_;
};

} // namespace nodwarden
