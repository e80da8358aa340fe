#include <NodwardenCore/detection/SessionActivityDetector.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace nodwarden {

namespace {

/// Whole seconds of `age`: fractions cut off, negative ages as 0, absurdly large ones capped.
std::int64_t wholeSeconds(double age) {
    if (!(age > 0)) {
        return 0;
    }
    if (age >= 9.0e18) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(age);
}

/// Sub-agent transcripts belong to a session already counted through its main transcript.
bool isSubagentTranscript(const std::string& path) {
    return AgentResolver::basename(path).starts_with("agent-") ||
           path.find("/subagents/") != std::string::npos;
}

} // namespace

SessionActivityDetector::SessionActivityDetector(std::shared_ptr<const FileActivityProbing> probe,
                                                 std::optional<HostSystem> hostSystem)
    : probe_(std::move(probe)), hostSystem_(hostSystem) {}

bool SessionActivityDetector::madeForThisSystem(const AgentProfile& profile) const {
    return !hostSystem_ || AgentCatalog::isMadeFor(profile, *hostSystem_);
}

std::optional<ActivitySignal>
SessionActivityDetector::signalFor(const std::string& name, std::optional<Date> newestModification,
                                   Date now, double freshnessWindow) {
    if (!newestModification) {
        return std::nullopt;
    }
    const double age = now - *newestModification;
    if (!(age <= freshnessWindow)) {
        return std::nullopt;
    }
    ActivitySignal signal;
    signal.strength = SignalStrength::strong;
    signal.appName = name;
    const std::string seconds = std::to_string(wholeSeconds(age));
    signal.reason = name + " session active (" + seconds + "s ago)";
    signal.reasonCode = ReasonCode::sessionFileFresh;
    signal.reasonDetail = seconds;
    return signal;
}

std::vector<ActivitySignal> SessionActivityDetector::detectPerApp(const GuardSettings& settings,
                                                                  Date now,
                                                                  double freshnessWindow) const {
    std::vector<ActivitySignal> signals;
    for (const auto& profile : AgentResolver::shared(settings)->profiles) {
        if (profile.sessionActivityGlobs.empty() || !madeForThisSystem(profile)) {
            continue;
        }
        const auto newest = probe_->newestModification(profile.sessionActivityGlobs);
        if (auto signal = signalFor(profile.displayName, newest, now, freshnessWindow)) {
            signals.push_back(std::move(*signal));
        }
    }
    return signals;
}

std::map<std::string, int>
SessionActivityDetector::sessionCountsPerApp(const GuardSettings& settings, Date now,
                                             double window) const {
    std::map<std::string, int> counts;
    for (const auto& profile : AgentResolver::shared(settings)->profiles) {
        if (profile.sessionCountGlobs.empty() || !madeForThisSystem(profile)) {
            continue;
        }
        int count = 0;
        for (const auto& [path, modified] :
             probe_->recentSessionModifications(profile.sessionCountGlobs, now, window)) {
            if (!isSubagentTranscript(path)) {
                ++count;
            }
        }
        counts[profile.displayName] = count;
    }
    return counts;
}

} // namespace nodwarden
