#include <NodwardenCore/detection/ProcessResolutions.hpp>

#include <NodwardenCore/catalog/AgentAppName.hpp>

#include <algorithm>
#include <functional>
#include <string_view>

namespace nodwarden {
namespace {

/// Argument bytes a line's fingerprint covers besides its length: an exec lays out a new
/// program name, and a new argument line of the same length that begins alike is no other agent.
constexpr std::size_t fingerprintedArguments = 160;

std::uint64_t lineHash(const ProcessSnapshot& row) {
    const std::hash<std::string_view> hash;
    const std::string_view arguments(row.arguments);
    std::uint64_t value = hash(row.command);
    value ^= hash(arguments.substr(0, fingerprintedArguments)) + 0x9e3779b97f4a7c15ULL +
             (value << 6U) + (value >> 2U);
    return value ^ (arguments.size() * 0xff51afd7ed558ccdULL);
}

/// User targets in their comparison form, worked out once per resolution.
std::vector<std::string> normalizedTargets(const std::vector<std::string>& targets) {
    std::vector<std::string> normalized;
    normalized.reserve(targets.size());
    for (const std::string& target : targets) {
        normalized.push_back(AgentAppName::normalized(target));
    }
    return normalized;
}

ResolvedProcess resolveOne(const AgentResolver& resolver,
                           const std::vector<std::string>& normalizedTargets,
                           const ProcessSnapshot& row) {
    ResolvedProcess resolved;
    resolved.program = resolver.findProgramForCommandPath(row.command, row.arguments);
    if (resolved.program != nullptr &&
        !AgentResolver::isBackgroundHelper(*resolved.program, row.arguments)) {
        resolved.profile = resolved.program;
    }
    if (resolved.profile != nullptr) {
        resolved.runsOneShot = AgentResolver::isOneShotRun(*resolved.profile, row.arguments);
        return resolved;
    }
    if (normalizedTargets.empty()) {
        return resolved;
    }
    // A target matches the executable's name or its whole path.
    const auto name = AgentAppName::normalized(row.displayName());
    const auto command = AgentAppName::normalized(row.command);
    for (std::size_t index = 0; index < normalizedTargets.size(); ++index) {
        if (AgentAppName::matchesNormalized(name, normalizedTargets[index]) ||
            AgentAppName::matchesNormalized(command, normalizedTargets[index])) {
            resolved.target = index;
            break;
        }
    }
    return resolved;
}

} // namespace

std::vector<ResolvedProcess> resolveProcesses(const AgentResolver& resolver,
                                              const std::vector<std::string>& targets,
                                              const std::vector<ProcessSnapshot>& processes) {
    const auto normalized = normalizedTargets(targets);
    std::vector<ResolvedProcess> resolved;
    resolved.reserve(processes.size());
    for (const ProcessSnapshot& row : processes) {
        resolved.push_back(resolveOne(resolver, normalized, row));
    }
    return resolved;
}

std::vector<ResolvedProcess>
ProcessResolutions::resolve(const std::shared_ptr<const AgentResolver>& resolver,
                            const std::vector<std::string>& targets,
                            const std::vector<ProcessSnapshot>& processes) {
    if (resolver != resolver_ || targets != targets_) {
        known_.clear();
        resolver_ = resolver;
        targets_ = targets;
    }
    ++pass_;
    lastResolved_ = 0;
    const auto normalized = normalizedTargets(targets);
    std::vector<ResolvedProcess> resolved;
    resolved.reserve(processes.size());
    for (const ProcessSnapshot& row : processes) {
        const std::uint64_t hash = lineHash(row);
        auto [entry, isNew] = known_.try_emplace(row.pid);
        Entry& known = entry->second;
        if (isNew || known.startTime != row.startTime || known.lineHash != hash) {
            known.startTime = row.startTime;
            known.lineHash = hash;
            known.resolved = resolveOne(*resolver, normalized, row);
            ++lastResolved_;
        }
        known.seenIn = pass_;
        resolved.push_back(known.resolved);
    }
    std::erase_if(known_, [&](const auto& entry) { return entry.second.seenIn != pass_; });
    return resolved;
}

} // namespace nodwarden
