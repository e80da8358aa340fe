#include <NodwardenCore/detection/ProcessDetector.hpp>

#include <NodwardenCore/catalog/AgentAppName.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/macos/PSProcessTableReader.hpp>
#include <NodwardenCore/system/AsciiText.hpp>

#include <charconv>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace nodwarden {

std::string ProcessSnapshot::displayName() const {
    return AgentResolver::basename(command);
}

namespace {

/// Calls `body` with every non-empty line of `text`.
template <typename Body> void forEachLine(std::string_view text, Body body) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        if (!line.empty()) {
            body(line);
        }
        if (end == text.npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
}

/// Reads `text` whole; an optional leading "+" is accepted as for any signed decimal.
template <typename Number, typename... Format>
std::optional<Number> readNumber(std::string_view text, Format... format) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-') || text.starts_with('+')) {
            return std::nullopt;
        }
    }
    Number value{};
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, format...);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> readPID(std::string_view text) {
    return readNumber<std::int32_t>(text, 10);
}

/// The process table indexed by id. Where one id has several rows, the first row's parent and
/// CPU share are used; each row is still listed as a child of its parent.
struct ProcessIndex {
    explicit ProcessIndex(const std::vector<ProcessSnapshot>& processes) {
        childrenByParent.reserve(processes.size());
        byPID.reserve(processes.size());
        for (const auto& row : processes) {
            childrenByParent[row.parentPID].push_back(row.pid);
            byPID.try_emplace(row.pid, Entry{row.parentPID, row.cpuPercent});
        }
    }

    struct Entry {
        std::int32_t parentPID;
        double cpuPercent;
    };

    std::unordered_map<std::int32_t, std::vector<std::int32_t>> childrenByParent;
    std::unordered_map<std::int32_t, Entry> byPID;
};

/// What one detection pass found for one agent or target.
struct Group {
    bool trustsCPU = false;
    /// The matched processes and all their descendants: whose CPU use is added up.
    std::unordered_set<std::int32_t> pids;
    /// The processes that matched themselves.
    std::vector<std::int32_t> roots;
};

/// Adds `root` and every descendant to `pids`. A process already in `pids` has had its
/// descendants added with it, so it is not walked again; that also ends a looping parent relation.
void addTree(std::int32_t root, const ProcessIndex& index, std::unordered_set<std::int32_t>& pids) {
    if (!pids.insert(root).second) {
        return;
    }
    std::vector<std::int32_t> pending = {root};
    while (!pending.empty()) {
        const auto current = pending.back();
        pending.pop_back();
        const auto children = index.childrenByParent.find(current);
        if (children == index.childrenByParent.end()) {
            continue;
        }
        for (const auto child : children->second) {
            if (pids.insert(child).second) {
                pending.push_back(child);
            }
        }
    }
}

/// Whether a matched process runs somewhere above `pid`. The walk stops at the system's first
/// process, at an id without a recorded parent, and at any id seen before (including `pid`
/// itself, which is never its own ancestor).
bool hasMatchedAncestor(std::int32_t pid, const ProcessIndex& index,
                        const std::unordered_set<std::int32_t>& allRoots) {
    auto parent = index.byPID.find(pid);
    if (parent == index.byPID.end()) {
        return false;
    }
    std::unordered_set<std::int32_t> visited = {pid};
    auto current = parent->second.parentPID;
    while (current > 1) {
        if (!visited.insert(current).second) {
            return false;
        }
        if (allRoots.count(current) != 0) {
            return true;
        }
        parent = index.byPID.find(current);
        if (parent == index.byPID.end()) {
            return false;
        }
        current = parent->second.parentPID;
    }
    return false;
}

/// A user target with its comparison form, worked out once per detection pass.
struct Target {
    explicit Target(const std::string& target)
        : name(target), normalized(AgentAppName::normalized(target)) {}

    const std::string& name;
    std::string normalized;
};

/// The agent a row belongs to: a watched profile first, then the first user target whose name
/// matches the executable's name or its whole path.
std::optional<std::pair<std::string, bool>> attribute(const ProcessSnapshot& row,
                                                      const AgentResolver& resolver,
                                                      const std::vector<Target>& targets) {
    if (const AgentProfile* profile =
            resolver.findProfileForCommandPath(row.command, row.arguments)) {
        return std::pair{profile->displayName, profile->trustsCPUSignal};
    }
    if (targets.empty()) {
        return std::nullopt;
    }
    const auto name = AgentAppName::normalized(row.displayName());
    const auto command = AgentAppName::normalized(row.command);
    for (const auto& target : targets) {
        if (AgentAppName::matchesNormalized(name, target.normalized) ||
            AgentAppName::matchesNormalized(command, target.normalized)) {
            return std::pair{target.name, true};
        }
    }
    return std::nullopt;
}

using AgentGroups = std::vector<std::pair<std::string, Group>>;

/// The processes of each agent and user target with all their descendants, in order of first
/// match, so the output is stable for a given table.
AgentGroups groupByAgent(const std::vector<ProcessSnapshot>& processes, const ProcessIndex& index,
                         const AgentResolver& resolver, const std::vector<Target>& targets) {
    AgentGroups groups;
    std::unordered_map<std::string, std::size_t> groupByKey;
    // Attribution depends only on the command and its arguments, and tables repeat those a lot
    // (helpers of one application, servers an agent starts in every session).
    // The memo holds the group a command line goes to (none when it is no agent's). A line is
    // first seen no later than it first matches, so groups still appear in order of first match.
    std::unordered_map<std::string, std::optional<std::size_t>> attributed;
    std::string lookup;
    for (const auto& row : processes) {
        lookup.assign(row.command);
        lookup += '\0';
        lookup += row.arguments;
        auto [memo, isFirstSight] = attributed.try_emplace(lookup);
        if (isFirstSight) {
            if (auto match = attribute(row, resolver, targets)) {
                auto& [key, trustsCPU] = *match;
                auto [slot, isNew] = groupByKey.try_emplace(key, groups.size());
                if (isNew) {
                    groups.emplace_back(std::move(key), Group{trustsCPU, {}, {}});
                }
                memo->second = slot->second;
            }
        }
        if (!memo->second) {
            continue;
        }
        Group& group = groups[*memo->second].second;
        group.roots.push_back(row.pid);
        addTree(row.pid, index, group.pids);
    }
    return groups;
}

ActivitySignal signalFor(const std::string& key, const Group& group, const ProcessIndex& index,
                         const std::unordered_set<std::int32_t>& allRoots, double threshold) {
    double total = 0;
    for (const auto pid : group.pids) {
        const auto entry = index.byPID.find(pid);
        total += entry != index.byPID.end() ? entry->second.cpuPercent : 0.0;
    }
    // A root listed twice (two rows with one id) is still one session.
    std::unordered_set<std::int32_t> sessions;
    for (const auto root : group.roots) {
        if (!hasMatchedAncestor(root, index, allRoots)) {
            sessions.insert(root);
        }
    }
    ActivitySignal signal;
    if (group.trustsCPU && total >= threshold) {
        signal.strength = SignalStrength::strong;
        signal.reason = key + " CPU is above the work threshold";
    } else {
        signal.strength = SignalStrength::presence;
        signal.reason = key + " is running";
    }
    signal.appName = key;
    signal.sessionCount = static_cast<int>(sessions.size());
    return signal;
}

} // namespace

ProcessDetector::ProcessDetector(std::shared_ptr<ProcessTableReading> table)
    : table_(std::move(table)) {}

ProcessDetector::ProcessDetector(CommandRunning& runner, FileLogger& logger)
    : table_(std::make_shared<PSProcessTableReader>(runner, logger)) {}

std::vector<ProcessSnapshot> ProcessDetector::liveSnapshot() const {
    return table_ ? table_->readProcessTable() : std::vector<ProcessSnapshot>{};
}

std::vector<ActivitySignal>
ProcessDetector::detectPerApp(const GuardSettings& settings,
                              const std::optional<PowerSnapshot>& power) const {
    return detectPerApp(liveSnapshot(), settings, power);
}

std::vector<ActivitySignal>
ProcessDetector::detectPerApp(const std::vector<ProcessSnapshot>& processes,
                              const GuardSettings& settings,
                              const std::optional<PowerSnapshot>& power) const {
    const double threshold =
        (power ? settings.profileFor(*power) : settings.batteryProfile).cpuThresholdPercent;
    const auto resolver = AgentResolver::make(settings);
    const ProcessIndex index(processes);
    const std::vector<Target> targets(settings.targetApps.begin(), settings.targetApps.end());

    const auto groups = groupByAgent(processes, index, resolver, targets);

    std::unordered_set<std::int32_t> allRoots;
    std::vector<std::int32_t> trees;
    for (const auto& [key, group] : groups) {
        allRoots.insert(group.roots.begin(), group.roots.end());
        if (group.trustsCPU) {
            trees.insert(trees.end(), group.pids.begin(), group.pids.end());
        }
    }
    // Only these trees' CPU is ever added up, so only they need measuring next time.
    if (table_) {
        table_->focusOn(trees);
    }

    std::vector<ActivitySignal> signals;
    signals.reserve(groups.size());
    for (const auto& [key, group] : groups) {
        signals.push_back(signalFor(key, group, index, allRoots, threshold));
    }
    return signals;
}

std::vector<ProcessSnapshot> ProcessDetector::parsePSOutput(std::string_view text) {
    std::vector<ProcessSnapshot> rows;
    forEachLine(text, [&](std::string_view line) {
        line = AsciiText::trimmed(line);
        // Three space-separated fields, then the command: the rest of the line after the space
        // that ends the third field, spaces and all.
        std::string_view fields[3];
        std::size_t found = 0;
        while (found < 3 && !line.empty()) {
            const auto space = line.find(' ');
            const auto piece = line.substr(0, space);
            if (!piece.empty()) {
                fields[found++] = piece;
            }
            line = space == line.npos ? std::string_view() : line.substr(space + 1);
        }
        if (found < 3 || line.empty()) {
            return;
        }
        const auto pid = readPID(fields[0]);
        const auto parentPID = readPID(fields[1]);
        const auto cpu = readNumber<double>(fields[2], std::chars_format::general);
        if (!pid || !parentPID || !cpu) {
            return;
        }
        rows.emplace_back(*pid, *parentPID, *cpu, std::string(line), std::string());
    });
    return rows;
}

std::map<std::int32_t, std::string> ProcessDetector::parsePSArgs(std::string_view text) {
    std::map<std::int32_t, std::string> argumentsByPID;
    forEachLine(text, [&](std::string_view line) {
        line = AsciiText::trimmed(line);
        const auto space = line.find(' ');
        if (space == line.npos) {
            return;
        }
        const auto pid = readPID(line.substr(0, space));
        if (!pid) {
            return;
        }
        argumentsByPID[*pid] = std::string(AsciiText::trimmed(line.substr(space + 1)));
    });
    return argumentsByPID;
}

} // namespace nodwarden
