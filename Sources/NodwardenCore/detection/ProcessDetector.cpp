#include <NodwardenCore/detection/ProcessDetector.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/DetectionPass.hpp>
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
void addTree(std::int32_t root, const std::vector<ProcessSnapshot>& processes,
             const ProcessTree& tree, std::unordered_set<std::int32_t>& pids) {
    if (!pids.insert(root).second) {
        return;
    }
    std::vector<std::int32_t> pending = {root};
    while (!pending.empty()) {
        const auto row = tree.rowOf(pending.back());
        pending.pop_back();
        if (!row) {
            continue;
        }
        for (const std::size_t child : tree.childrenOf(*row)) {
            if (pids.insert(processes[child].pid).second) {
                pending.push_back(processes[child].pid);
            }
        }
    }
}

/// Whether a matched process runs somewhere above `pid`. The walk stops at the system's first
/// process, at an id without a recorded parent, and at any id seen before (including `pid`
/// itself, which is never its own ancestor).
bool hasMatchedAncestor(std::int32_t pid, const std::vector<ProcessSnapshot>& processes,
                        const ProcessTree& tree, const std::unordered_set<std::int32_t>& allRoots) {
    auto row = tree.rowOf(pid);
    if (!row) {
        return false;
    }
    std::unordered_set<std::int32_t> visited = {pid};
    auto current = processes[*row].parentPID;
    while (current > 1) {
        if (!visited.insert(current).second) {
            return false;
        }
        if (allRoots.count(current) != 0) {
            return true;
        }
        row = tree.rowOf(current);
        if (!row) {
            return false;
        }
        current = processes[*row].parentPID;
    }
    return false;
}

using AgentGroups = std::vector<std::pair<std::string, Group>>;

/// The processes of each agent and user target with all their descendants, in order of first
/// match, so the output is stable for a given table.
AgentGroups groupByAgent(const DetectionPass& pass) {
    AgentGroups groups;
    std::unordered_map<std::string, std::size_t> groupByKey;
    const auto& processes = pass.processes();
    const auto& resolved = pass.resolved();
    for (std::size_t row = 0; row < processes.size(); ++row) {
        const ResolvedProcess& match = resolved[row];
        if (match.profile == nullptr && !match.target) {
            continue;
        }
        const std::string& key = match.profile != nullptr
                                     ? match.profile->displayName
                                     : pass.settings().targetApps[*match.target];
        auto [slot, isNew] = groupByKey.try_emplace(key, groups.size());
        if (isNew) {
            groups.emplace_back(
                key, Group{match.profile == nullptr || match.profile->trustsCPUSignal, {}, {}});
        }
        Group& group = groups[slot->second].second;
        group.roots.push_back(processes[row].pid);
        addTree(processes[row].pid, processes, pass.tree(), group.pids);
    }
    return groups;
}

ActivitySignal signalFor(const std::string& key, const Group& group,
                         const std::vector<ProcessSnapshot>& processes, const ProcessTree& tree,
                         const std::unordered_set<std::int32_t>& allRoots, double threshold) {
    double total = 0;
    for (const auto pid : group.pids) {
        const auto row = tree.rowOf(pid);
        total += row ? processes[*row].cpuPercent : 0.0;
    }
    // A root listed twice (two rows with one id) is still one session.
    std::unordered_set<std::int32_t> sessions;
    for (const auto root : group.roots) {
        if (!hasMatchedAncestor(root, processes, tree, allRoots)) {
            sessions.insert(root);
        }
    }
    ActivitySignal signal;
    if (group.trustsCPU && total >= threshold) {
        signal.strength = SignalStrength::strong;
        signal.reason = key + " CPU is above the work threshold";
        signal.reasonCode = ReasonCode::cpuAboveThreshold;
    } else {
        signal.strength = SignalStrength::presence;
        signal.reason = key + " is running";
        signal.reasonCode = ReasonCode::processRunning;
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
    return detectPerApp(DetectionPass(settings, processes, 0), power);
}

std::vector<ActivitySignal>
ProcessDetector::detectPerApp(const DetectionPass& pass,
                              const std::optional<PowerSnapshot>& power) const {
    const GuardSettings& settings = pass.settings();
    const double threshold =
        (power ? settings.profileFor(*power) : settings.batteryProfile).cpuThresholdPercent;
    const auto groups = groupByAgent(pass);

    std::unordered_set<std::int32_t> allRoots;
    std::vector<std::int32_t> focus;
    for (const auto& [key, group] : groups) {
        allRoots.insert(group.roots.begin(), group.roots.end());
        // Only these trees' CPU is ever added up, so only they need measuring next time; the
        // other agents' own processes are watched too, so that their end shows at once.
        if (group.trustsCPU) {
            focus.insert(focus.end(), group.pids.begin(), group.pids.end());
        } else {
            focus.insert(focus.end(), group.roots.begin(), group.roots.end());
        }
    }
    if (table_) {
        table_->focusOn(focus);
    }

    std::vector<ActivitySignal> signals;
    signals.reserve(groups.size());
    for (const auto& [key, group] : groups) {
        signals.push_back(
            signalFor(key, group, pass.processes(), pass.tree(), allRoots, threshold));
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
