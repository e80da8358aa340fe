#include <NodwardenCore/detection/ActivityDetector.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/DetectionPass.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/SessionActivityDetector.hpp>

#include <algorithm>
#include <set>
#include <utility>

namespace nodwarden {
namespace {

bool processSeenWithin(std::optional<Date> processLastSeenAt, Date now, TimeInterval window) {
    // A difference that is not a number fails the comparison, as an unknown time should.
    return processLastSeenAt && now - *processLastSeenAt <= window;
}

using EmitRule = bool (*)(const AgentProfile&, std::optional<Date>, Date, TimeInterval);

/// The signals that `rule` lets through; signals about no watched agent always pass.
std::vector<ActivitySignal> filtered(std::vector<ActivitySignal> signals,
                                     const std::map<std::string, const AgentProfile*>& profiles,
                                     const std::map<std::string, Date>& processLastSeenAt, Date now,
                                     EmitRule rule) {
    std::erase_if(signals, [&](const ActivitySignal& signal) {
        if (!signal.appName) {
            return false;
        }
        const auto profile = profiles.find(*signal.appName);
        if (profile == profiles.end()) {
            return false;
        }
        const auto seen = processLastSeenAt.find(*signal.appName);
        const std::optional<Date> lastSeen =
            seen == processLastSeenAt.end() ? std::nullopt : std::optional<Date>(seen->second);
        return !rule(*profile->second, lastSeen, now, ActivityDetector::sharedSessionProcessWindow);
    });
    return signals;
}

/// Whether `candidate` should take the place of `kept` for the same agent: it is stronger, or
/// as strong and the only one that names the text it saw.
bool replaces(const ActivitySignal& candidate, const ActivitySignal& kept) {
    if (candidate.strength != kept.strength) {
        return candidate.strength > kept.strength;
    }
    return candidate.matchedText.has_value() && !kept.matchedText.has_value();
}

/// What the witnesses said in one pass.
struct PassVerdicts {
    /// The best verdict for each agent: the one of the highest quality, and among equals the one
    /// of the witness asked first; but a wait for the user takes the place of work.
    std::map<std::string, AgentVerdict> best;
    /// The agents whose own records spoke, whether or not a better verdict decided.
    std::set<std::string> recordsSpokeFor;
    /// What each agent's own records, chat and hooks said: waiting over working over idle.
    std::map<std::string, AgentWorkState> ownWord;
};

bool isOwnWord(AgentVerdictSource source) {
    return source == AgentVerdictSource::statusRecord ||
           source == AgentVerdictSource::conversation || source == AgentVerdictSource::hook ||
           source == AgentVerdictSource::hookWithoutCancel;
}

int rank(AgentWorkState state) {
    return state == AgentWorkState::waiting ? 2 : state == AgentWorkState::working ? 1 : 0;
}

/// Whether `candidate` decides over `kept`. An agent's records go on saying a turn is under way
/// while the turn stops at a question to the user, so a wait, from whatever witness, tells more
/// than work; otherwise the better evidence decides.
bool decidesOver(const AgentVerdict& candidate, const AgentVerdict& kept) {
    if (candidate.state == AgentWorkState::waiting && kept.state == AgentWorkState::working) {
        return true;
    }
    if (kept.state == AgentWorkState::waiting && candidate.state == AgentWorkState::working) {
        return false;
    }
    return candidate.quality() > kept.quality();
}

PassVerdicts askWitnesses(const std::vector<AgentVerdictDetecting*>& detectors,
                          const DetectionPass& pass) {
    PassVerdicts verdicts;
    for (AgentVerdictDetecting* detector : detectors) {
        for (AgentVerdict& verdict : detector->detectVerdicts(pass)) {
            if (verdict.source == AgentVerdictSource::statusRecord ||
                verdict.source == AgentVerdictSource::conversation) {
                verdicts.recordsSpokeFor.insert(verdict.appName);
            }
            if (isOwnWord(verdict.source)) {
                const auto [word, first] =
                    verdicts.ownWord.try_emplace(verdict.appName, verdict.state);
                if (!first && rank(verdict.state) > rank(word->second)) {
                    word->second = verdict.state;
                }
            }
            const auto [kept, inserted] = verdicts.best.try_emplace(verdict.appName, verdict);
            if (!inserted && decidesOver(verdict, kept->second)) {
                kept->second = std::move(verdict);
            }
        }
    }
    return verdicts;
}

/// Names the witness of every signal a detector gave.
std::vector<ActivitySignal> decidedBy(std::vector<ActivitySignal> signals,
                                      DecidingWitness witness) {
    for (ActivitySignal& signal : signals) {
        if (signal.appName) {
            signal.decidedBy = witness;
        }
    }
    return signals;
}

/// Drops the session-file signals of profiles whose patterns belong to another agent whose own
/// record spoke in this pass: what those files say is already said for that agent.
void dropExplainedSessionSignals(std::vector<ActivitySignal>& signals, const PassVerdicts& verdicts,
                                 const std::map<std::string, const AgentProfile*>& profiles) {
    std::set<std::string> explained;
    for (const std::string& name : verdicts.recordsSpokeFor) {
        if (const auto profile = profiles.find(name); profile != profiles.end()) {
            for (const auto* patterns :
                 {&profile->second->sessionCountGlobs, &profile->second->sessionActivityGlobs}) {
                explained.insert(patterns->begin(), patterns->end());
            }
        }
    }
    if (explained.empty()) {
        return;
    }
    std::erase_if(signals, [&](const ActivitySignal& signal) {
        if (!signal.appName || verdicts.recordsSpokeFor.contains(*signal.appName)) {
            return false;
        }
        const auto profile = profiles.find(*signal.appName);
        if (profile == profiles.end()) {
            return false;
        }
        const auto& patterns = profile->second->sessionActivityGlobs;
        return std::any_of(patterns.begin(), patterns.end(),
                           [&](const std::string& pattern) { return explained.contains(pattern); });
    });
}

/// Lets each verdict decide for its agent: working is `strong`, idle turns whatever CPU, screen
/// text or file times said into presence, and so does a wait for the user unless the user asked
/// to keep the machine awake through waits. All say which witness decided.
void applyVerdicts(const std::map<std::string, AgentVerdict>& verdicts,
                   const GuardSettings& settings, std::vector<ActivitySignal>& merged,
                   std::map<std::string, std::size_t>& indexByName) {
    for (const auto& [name, verdict] : verdicts) {
        const auto [entry, inserted] = indexByName.emplace(name, merged.size());
        if (inserted) {
            merged.push_back(ActivitySignal::none());
            merged.back().appName = name;
        }
        ActivitySignal& signal = merged[entry->second];
        const bool keptAwake =
            verdict.state == AgentWorkState::working ||
            (verdict.state == AgentWorkState::waiting && settings.keepAwakeWhileAgentWaits);
        signal.strength = keptAwake ? SignalStrength::strong : SignalStrength::presence;
        signal.reason = ActivityDetector::verdictReason(verdict);
        signal.reasonCode = ActivityDetector::verdictReasonCode(verdict);
        signal.reasonDetail.clear();
        signal.matchedText = std::nullopt;
        signal.decidedBy = witnessOf(verdict.source);
        signal.waitingForUser = verdict.state == AgentWorkState::waiting;
    }
}

} // namespace

std::vector<ActivitySignal>
ProcessActivityDetecting::detectForPass(const DetectionPass& pass,
                                        const std::optional<PowerSnapshot>& power) {
    return detectPerApp(pass.processes(), pass.settings(), power);
}

std::string ActivityDetector::verdictReason(const AgentVerdict& verdict) {
    if (verdict.state == AgentWorkState::waiting) {
        return verdict.appName + " is waiting for your answer";
    }
    const bool working = verdict.state == AgentWorkState::working;
    const char* state = working ? " it is working" : " it is idle";
    switch (verdict.source) {
    case AgentVerdictSource::statusRecord:
        return verdict.appName + " reports" + state;
    case AgentVerdictSource::screen:
        return verdict.appName + " shows" + state;
    case AgentVerdictSource::conversation:
        return verdict.appName + (working ? "'s chat awaits a reply" : "'s chat ends with a reply");
    case AgentVerdictSource::oneShotRun:
        return verdict.appName + " runs a one-shot prompt";
    case AgentVerdictSource::startUp:
        return verdict.appName + " has just started and has had no turn yet";
    case AgentVerdictSource::lock:
        return verdict.appName + " holds a lock against sleep";
    case AgentVerdictSource::hook:
    case AgentVerdictSource::hookWithoutCancel:
        return verdict.appName + " says" + state;
    case AgentVerdictSource::toolRun:
        return verdict.appName + " runs a command through its tool";
    case AgentVerdictSource::leftBehind:
        return "A process " + verdict.appName + " left running is busy";
    }
    return verdict.appName + state;
}

ReasonCode ActivityDetector::verdictReasonCode(const AgentVerdict& verdict) {
    if (verdict.state == AgentWorkState::waiting) {
        return ReasonCode::waitingForAnswer;
    }
    const bool working = verdict.state == AgentWorkState::working;
    switch (verdict.source) {
    case AgentVerdictSource::statusRecord:
        return working ? ReasonCode::recordSaysWorking : ReasonCode::recordSaysIdle;
    case AgentVerdictSource::screen:
        return working ? ReasonCode::screenShowsWorking : ReasonCode::screenShowsIdle;
    case AgentVerdictSource::conversation:
        return working ? ReasonCode::chatAwaitsReply : ReasonCode::chatEndsWithReply;
    case AgentVerdictSource::oneShotRun:
        return ReasonCode::oneShotRun;
    case AgentVerdictSource::startUp:
        return ReasonCode::justStarted;
    case AgentVerdictSource::lock:
        return ReasonCode::holdsSleepLock;
    case AgentVerdictSource::hook:
    case AgentVerdictSource::hookWithoutCancel:
        return working ? ReasonCode::hookSaysWorking : ReasonCode::hookSaysIdle;
    case AgentVerdictSource::toolRun:
        return ReasonCode::toolRunning;
    case AgentVerdictSource::leftBehind:
        return ReasonCode::leftBehindBusy;
    }
    return ReasonCode::unspecified;
}

std::string ActivityDetector::outOfReachReason(const std::string& agent) {
    return agent + " runs where Stayloom may not read its files: " + std::string(onlyCPUSpeaks);
}

/// Presents the library's detectors through the interfaces the merge is written against.
struct ActivityDetector::OwnedAdapters {
    struct Processes final : ProcessActivityDetecting {
        explicit Processes(ProcessDetector& wrapped) : detector(wrapped) {}
        std::vector<ProcessSnapshot> liveSnapshot() override { return detector.liveSnapshot(); }
        std::vector<ActivitySignal>
        detectPerApp(const std::vector<ProcessSnapshot>& table, const GuardSettings& settings,
                     const std::optional<PowerSnapshot>& power) override {
            return detector.detectPerApp(table, settings, power);
        }
        std::vector<ActivitySignal>
        detectForPass(const DetectionPass& pass,
                      const std::optional<PowerSnapshot>& power) override {
            return detector.detectPerApp(pass, power);
        }
        ProcessDetector& detector;
    };

    struct ScreenText final : ScreenTextActivityDetecting {
        explicit ScreenText(AccessibilityDetector& wrapped) : detector(wrapped) {}
        std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings) override {
            return detector.detectPerApp(settings);
        }
        AccessibilityDetector& detector;
    };

    struct Sessions final : SessionActivityDetecting {
        explicit Sessions(SessionActivityDetector& wrapped) : detector(wrapped) {}
        std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings, Date now,
                                                 TimeInterval freshnessWindow) override {
            return detector.detectPerApp(settings, now, freshnessWindow);
        }
        std::map<std::string, int> sessionCountsPerApp(const GuardSettings& settings, Date now,
                                                       TimeInterval window) override {
            return detector.sessionCountsPerApp(settings, now, window);
        }
        SessionActivityDetector& detector;
    };

    Processes processes;
    ScreenText screenText;
    Sessions sessions;
};

ActivityDetector::ActivityDetector(ProcessDetector& processDetector,
                                   AccessibilityDetector& accessibilityDetector,
                                   SessionActivityDetector& sessionDetector,
                                   std::vector<AgentVerdictDetecting*> verdictDetectors)
    : adapters_(std::make_unique<OwnedAdapters>(
          OwnedAdapters{OwnedAdapters::Processes(processDetector),
                        OwnedAdapters::ScreenText(accessibilityDetector),
                        OwnedAdapters::Sessions(sessionDetector)})),
      processDetector_(&adapters_->processes), accessibilityDetector_(&adapters_->screenText),
      sessionDetector_(&adapters_->sessions), verdictDetectors_(std::move(verdictDetectors)) {}

ActivityDetector::~ActivityDetector() = default;

ActivityDetector::ActivityDetector(ProcessActivityDetecting& processDetector,
                                   ScreenTextActivityDetecting& accessibilityDetector,
                                   SessionActivityDetecting& sessionDetector,
                                   std::vector<AgentVerdictDetecting*> verdictDetectors)
    : processDetector_(&processDetector), accessibilityDetector_(&accessibilityDetector),
      sessionDetector_(&sessionDetector), verdictDetectors_(std::move(verdictDetectors)) {}

bool ActivityDetector::shouldEmitTerminalAccessibilitySignal(const AgentProfile& profile,
                                                             std::optional<Date> processLastSeenAt,
                                                             Date now, TimeInterval window) {
    return !profile.scanTerminalText || processSeenWithin(processLastSeenAt, now, window);
}

bool ActivityDetector::shouldEmitSessionSignal(const AgentProfile& profile,
                                               std::optional<Date> processLastSeenAt, Date now,
                                               TimeInterval window) {
    return !profile.sessionGlobsSharedWithOtherApps ||
           processSeenWithin(processLastSeenAt, now, window);
}

std::vector<ActivitySignal> ActivityDetector::detectPerApp(const GuardSettings& settings,
                                                           const PowerSnapshot& power, Date now) {
    const std::vector<ProcessSnapshot> processes = processDetector_->liveSnapshot();
    // The watched agents, what each row is and which agents run are worked out once, for every
    // witness; rows seen in earlier passes are not resolved again.
    const DetectionPass pass(settings, processes, now, resolutions_);
    const std::vector<ActivitySignal> processSignals =
        decidedBy(processDetector_->detectForPass(pass, power), DecidingWitness::cpu);
    std::map<std::string, const AgentProfile*> profilesByName;
    for (const AgentProfile& profile : pass.resolver().profiles) {
        profilesByName.emplace(profile.displayName, &profile);
    }

    // Recorded before filtering, so an agent whose process runs now passes both filters.
    std::map<std::string, int> processCounts;
    for (const ActivitySignal& signal : processSignals) {
        if (signal.appName) {
            processLastSeenAt_[*signal.appName] = now;
            if (signal.sessionCount) {
                processCounts[*signal.appName] = *signal.sessionCount;
            }
        }
    }

    const std::vector<ActivitySignal> screenSignals =
        decidedBy(filtered(accessibilityDetector_->detectPerApp(settings), profilesByName,
                           processLastSeenAt_, now, &shouldEmitTerminalAccessibilitySignal),
                  DecidingWitness::screen);
    PassVerdicts verdicts = askWitnesses(verdictDetectors_, pass);
    toolRuns_.amend(pass, verdicts.best, verdicts.ownWord);
    std::vector<ActivitySignal> sessionSignals =
        decidedBy(filtered(sessionDetector_->detectPerApp(
                               settings, now, SessionActivityDetector::defaultFreshnessWindow),
                           profilesByName, processLastSeenAt_, now, &shouldEmitSessionSignal),
                  DecidingWitness::files);
    dropExplainedSessionSignals(sessionSignals, verdicts, profilesByName);
    const std::map<std::string, int> fileCounts = sessionDetector_->sessionCountsPerApp(
        settings, now, SessionActivityDetector::defaultSessionCountWindow);

    std::vector<ActivitySignal> merged;
    std::map<std::string, std::size_t> indexByName;
    for (const std::vector<ActivitySignal>* source :
         {&processSignals, &screenSignals, &std::as_const(sessionSignals)}) {
        for (const ActivitySignal& signal : *source) {
            if (!signal.appName) {
                continue;
            }
            const auto [entry, inserted] = indexByName.emplace(*signal.appName, merged.size());
            if (inserted) {
                merged.push_back(signal);
            } else if (replaces(signal, merged[entry->second])) {
                merged[entry->second] = signal;
            }
        }
    }

    std::set<std::string> outOfReach;
    for (const AgentVerdictDetecting* detector : verdictDetectors_) {
        const auto names = detector->outOfReach();
        outOfReach.insert(names.begin(), names.end());
    }
    for (ActivitySignal& signal : merged) {
        if (signal.appName && outOfReach.contains(*signal.appName) &&
            !verdicts.best.contains(*signal.appName)) {
            signal.reason = outOfReachReason(*signal.appName);
            signal.reasonCode = ReasonCode::outOfReach;
            signal.reasonDetail.clear();
            signal.decidedBy = DecidingWitness::cpu;
        }
    }
    applyVerdicts(verdicts.best, settings, merged, indexByName);
    toolRuns_.remember(merged);

    for (ActivitySignal& signal : merged) {
        const std::string& name = *signal.appName;
        const auto fileCount = fileCounts.find(name);
        const auto processCount = processCounts.find(name);
        if (fileCount != fileCounts.end()) {
            // Session files are the better count; none live means no count, whatever ran.
            signal.sessionCount =
                fileCount->second >= 1 ? std::optional<int>(fileCount->second) : std::nullopt;
        } else if (processCount != processCounts.end()) {
            signal.sessionCount = processCount->second;
        } else {
            signal.sessionCount = std::nullopt;
        }
        signal.processPresent = processCount != processCounts.end();
    }

    // std::string orders by unsigned bytes, which for UTF-8 is code-point order.
    std::stable_sort(
        merged.begin(), merged.end(),
        [](const ActivitySignal& a, const ActivitySignal& b) { return *a.appName < *b.appName; });
    return merged;
}

} // namespace nodwarden
