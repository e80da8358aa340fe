#include <NodwardenLinux/ScreenAttribution.hpp>

#include <NodwardenCore/detection/PhraseMatcher.hpp>

#include <cctype>
#include <map>
#include <unordered_set>

namespace nodwarden::linuxplatform {
namespace {

/// A pane decides for its agent, so only the agents' interrupt hints count as work there: single
/// words ("Working") turn up in any reply, and readouts such as "Context left" or "tokens used"
/// stay on an idle screen.
bool isInterruptHint(const std::string& phrase) {
    if (phrase.find(' ') == std::string::npos) {
        return false;
    }
    std::string folded = phrase;
    for (char& c : folded) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded.find("esc ") != std::string::npos ||
           folded.find("interrupt") != std::string::npos ||
           folded.find("cancel") != std::string::npos;
}

} // namespace

ScreenAttribution::ScreenAttribution(const std::vector<ProcessSnapshot>& processes,
                                     const AgentResolver& resolver)
    : processes_(processes), resolver_(resolver) {
    rowByPID_.reserve(processes.size());
    childrenByParent_.reserve(processes.size());
    for (std::size_t index = 0; index < processes.size(); ++index) {
        const ProcessSnapshot& process = processes[index];
        if (rowByPID_.try_emplace(process.pid, index).second && process.parentPID != process.pid) {
            childrenByParent_[process.parentPID].push_back(process.pid);
        }
    }
}

const ProcessSnapshot* ScreenAttribution::row(std::int32_t pid) const {
    const auto found = rowByPID_.find(pid);
    return found == rowByPID_.end() ? nullptr : &processes_[found->second];
}

const AgentProfile* ScreenAttribution::agentOf(const ProcessSnapshot& process) {
    std::string line = process.command;
    line += '\0';
    line += process.arguments;
    auto [memo, isFirstSight] = agentByLine_.try_emplace(std::move(line), nullptr);
    if (isFirstSight) {
        memo->second = resolver_.findProfileForCommandPath(process.command, process.arguments);
    }
    return memo->second;
}

const AgentProfile* ScreenAttribution::soleAgentAtOrBelow(std::int32_t root) {
    const AgentProfile* sole = nullptr;
    std::unordered_set<std::int32_t> visited;
    std::vector<std::int32_t> pending = {root};
    while (!pending.empty()) {
        const std::int32_t pid = pending.back();
        pending.pop_back();
        if (!visited.insert(pid).second) {
            continue;
        }
        const ProcessSnapshot* process = row(pid);
        if (process == nullptr) {
            continue;
        }
        if (const AgentProfile* agent = agentOf(*process)) {
            if (sole != nullptr && sole != agent) {
                return nullptr;
            }
            sole = agent;
            continue; // what an agent starts belongs to its turn, not to the screen's owner
        }
        if (const auto children = childrenByParent_.find(pid);
            children != childrenByParent_.end()) {
            pending.insert(pending.end(), children->second.begin(), children->second.end());
        }
    }
    return sole != nullptr && hasScreenPhrases(*sole) ? sole : nullptr;
}

bool ScreenAttribution::hasMatchedAncestor(const ProcessSnapshot& process) {
    std::unordered_set<std::int32_t> visited = {process.pid};
    for (const ProcessSnapshot* parent = row(process.parentPID);
         parent != nullptr && parent->pid > 1 && visited.insert(parent->pid).second;
         parent = row(parent->parentPID)) {
        if (agentOf(*parent) != nullptr) {
            return true;
        }
    }
    return false;
}

bool ScreenAttribution::isCovered(const ProcessSnapshot& session,
                                  const std::set<std::int32_t>& roots) const {
    std::unordered_set<std::int32_t> visited;
    for (const ProcessSnapshot* current = &session;
         current != nullptr && current->pid > 1 && visited.insert(current->pid).second;
         current = row(current->parentPID)) {
        if (roots.contains(current->pid)) {
            return true;
        }
    }
    return false;
}

bool ScreenAttribution::allSessionsCovered(const AgentProfile& agent,
                                           const std::set<std::int32_t>& roots) {
    for (const ProcessSnapshot& process : processes_) {
        if (agentOf(process) != &agent || hasMatchedAncestor(process)) {
            continue;
        }
        // A process handed to the system's first process or to the user's service manager
        // outlived whatever started it (a daemon): no terminal shows it, and it is not a session.
        const ProcessSnapshot* parent = row(process.parentPID);
        const bool isDaemon =
            process.parentPID <= 1 || (parent != nullptr && parent->displayName() == "systemd");
        if (!isDaemon && !isCovered(process, roots)) {
            return false;
        }
    }
    return true;
}

std::vector<AgentVerdict> ScreenAttribution::verdicts(const std::vector<ScreenReading>& readings) {
    struct Finding {
        const AgentProfile* agent = nullptr;
        bool working = false;
        bool waiting = false;
        std::set<std::int32_t> roots;
    };
    std::map<std::string, Finding> byName;
    for (const ScreenReading& reading : readings) {
        if (reading.agent == nullptr) {
            continue;
        }
        Finding& finding = byName[reading.agent->displayName];
        finding.agent = reading.agent;
        finding.working = finding.working || reading.working;
        finding.waiting = finding.waiting || reading.waiting;
        finding.roots.insert(reading.root);
    }
    std::vector<AgentVerdict> verdicts;
    for (const auto& [name, finding] : byName) {
        // A question on one screen is the agent's news, whatever its other sessions do.
        if (finding.waiting) {
            verdicts.push_back({name, AgentWorkState::waiting, AgentVerdictSource::screen});
        } else if (finding.working) {
            verdicts.push_back({name, AgentWorkState::working, AgentVerdictSource::screen});
        } else if (allSessionsCovered(*finding.agent, finding.roots)) {
            verdicts.push_back({name, AgentWorkState::idle, AgentVerdictSource::screen});
        }
    }
    return verdicts;
}

bool ScreenAttribution::hasScreenPhrases(const AgentProfile& agent) {
    for (const std::string& phrase : agent.activePhrases) {
        if (isInterruptHint(phrase)) {
            return true;
        }
    }
    return false;
}

bool ScreenAttribution::showsWorkingPhrase(const AgentProfile& agent, std::string_view text) {
    PhraseMatcher matcher;
    for (const std::string& phrase : agent.activePhrases) {
        if (isInterruptHint(phrase)) {
            matcher.activePhrases.push_back(phrase);
        }
    }
    return matcher.match(text).kind() == PhraseMatchKind::Case::active;
}

bool ScreenAttribution::showsQuestion(const AgentProfile& agent, std::string_view text) {
    if (agent.questionPhrases.empty()) {
        return false;
    }
    PhraseMatcher matcher;
    matcher.activePhrases = agent.questionPhrases;
    return matcher.match(text).kind() == PhraseMatchKind::Case::active;
}

} // namespace nodwarden::linuxplatform
