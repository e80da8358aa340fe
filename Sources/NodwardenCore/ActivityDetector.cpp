#include <NodwardenCore/ActivityDetector.hpp>

#include <NodwardenCore/AccessibilityDetector.hpp>
#include <NodwardenCore/AgentResolver.hpp>
#include <NodwardenCore/ProcessDetector.hpp>
#include <NodwardenCore/SessionActivityDetector.hpp>

#include <algorithm>
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

} // namespace

/// Presents the library's detectors through the interfaces the merge is written against.
struct ActivityDetector::OwnedAdapters {
    struct Processes final : ProcessActivityDetecting {
        explicit Processes(ProcessDetector& wrapped) : detector(wrapped) {}
        std::vector<ActivitySignal>
        detectPerApp(const GuardSettings& settings,
                     const std::optional<PowerSnapshot>& power) override {
            return detector.detectPerApp(detector.liveSnapshot(), settings, power);
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
                                   SessionActivityDetector& sessionDetector)
    : adapters_(std::make_unique<OwnedAdapters>(
          OwnedAdapters{OwnedAdapters::Processes(processDetector),
                        OwnedAdapters::ScreenText(accessibilityDetector),
                        OwnedAdapters::Sessions(sessionDetector)})),
      processDetector_(&adapters_->processes), accessibilityDetector_(&adapters_->screenText),
      sessionDetector_(&adapters_->sessions) {}

ActivityDetector::~ActivityDetector() = default;

ActivityDetector::ActivityDetector(ProcessActivityDetecting& processDetector,
                                   ScreenTextActivityDetecting& accessibilityDetector,
                                   SessionActivityDetecting& sessionDetector)
    : processDetector_(&processDetector), accessibilityDetector_(&accessibilityDetector),
      sessionDetector_(&sessionDetector) {}

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
    const std::vector<ActivitySignal> processSignals =
        processDetector_->detectPerApp(settings, power);

    const AgentResolver resolver = AgentResolver::make(settings);
    std::map<std::string, const AgentProfile*> profilesByName;
    for (const AgentProfile& profile : resolver.profiles) {
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
        filtered(accessibilityDetector_->detectPerApp(settings), profilesByName, processLastSeenAt_,
                 now, &shouldEmitTerminalAccessibilitySignal);
    const std::vector<ActivitySignal> sessionSignals =
        filtered(sessionDetector_->detectPerApp(settings, now,
                                                SessionActivityDetector::defaultFreshnessWindow),
                 profilesByName, processLastSeenAt_, now, &shouldEmitSessionSignal);
    const std::map<std::string, int> fileCounts = sessionDetector_->sessionCountsPerApp(
        settings, now, SessionActivityDetector::defaultSessionCountWindow);

    std::vector<ActivitySignal> merged;
    std::map<std::string, std::size_t> indexByName;
    for (const auto* source : {&processSignals, &screenSignals, &sessionSignals}) {
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

ActivitySignal ActivityDetector::detect(const GuardSettings& settings, const PowerSnapshot& power,
                                        Date now) {
    const std::vector<ActivitySignal> signals = detectPerApp(settings, power, now);
    const auto strongest = std::max_element(
        signals.begin(), signals.end(),
        [](const ActivitySignal& a, const ActivitySignal& b) { return a.strength < b.strength; });
    return strongest == signals.end() ? ActivitySignal::none() : *strongest;
}

} // namespace nodwarden
