#pragma once

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace nodwarden::linuxplatform {

/// What one readable screen showed, for the one agent running below the process that draws it.
struct ScreenReading {
    const AgentProfile* agent = nullptr;
    /// The process below which everything the screen shows runs (a pane's first process, a
    /// terminal program).
    std::int32_t root = 0;
    bool working = false;
    /// It shows the agent's question to its user (an approval prompt).
    bool waiting = false;
};

/// Ties screens to agents through the process tree of one detection pass.
///
/// A screen speaks for an agent only when exactly one agent runs below the process that draws
/// it; an agent started by another agent (a tool call) is that agent's business and not counted.
/// An idle verdict needs every interactive session of the agent on a screen that was read, so an
/// unread session elsewhere keeps its own evidence. Processes are matched lazily, once per
/// distinct command line.
class ScreenAttribution {
public:
    /// Both must outlive this object.
    ScreenAttribution(const std::vector<ProcessSnapshot>& processes, const AgentResolver& resolver);

    /// The processes started directly by the processes for which `isHost` holds, in table order.
    template <typename Predicate> std::vector<std::int32_t> childrenOfHosts(Predicate isHost) const;

    /// The one agent whose outermost processes run at or below `root`; null when there is none,
    /// when there are several, or when the agent shows no phrase that can be read on a screen.
    const AgentProfile* soleAgentAtOrBelow(std::int32_t root);

    /// Definite verdicts from the screens read: waiting where a screen of the agent shows its
    /// question to the user; working where one shows a working phrase; idle where none does and
    /// every interactive session of the agent runs below a screen that was read.
    std::vector<AgentVerdict> verdicts(const std::vector<ScreenReading>& readings);

    /// Whether `text` shows one of the agent's interrupt hints ("esc to interrupt", "esc to
    /// cancel"); its other working phrases also show on idle screens.
    static bool showsWorkingPhrase(const AgentProfile& agent, std::string_view text);

    /// Whether `text` shows the agent's question to its user ("Do you want to proceed?").
    static bool showsQuestion(const AgentProfile& agent, std::string_view text);

    /// Whether the agent has any phrase that `showsWorkingPhrase` can find.
    static bool hasScreenPhrases(const AgentProfile& agent);

private:
    const AgentProfile* agentOf(const ProcessSnapshot& process);
    const ProcessSnapshot* row(std::int32_t pid) const;
    bool isCovered(const ProcessSnapshot& session, const std::set<std::int32_t>& roots) const;
    bool hasMatchedAncestor(const ProcessSnapshot& process);
    bool allSessionsCovered(const AgentProfile& agent, const std::set<std::int32_t>& roots);

    const std::vector<ProcessSnapshot>& processes_;
    const AgentResolver& resolver_;
    std::unordered_map<std::int32_t, std::size_t> rowByPID_;
    std::unordered_map<std::int32_t, std::vector<std::int32_t>> childrenByParent_;
    /// The agent of each distinct command line seen so far (null: no agent).
    std::unordered_map<std::string, const AgentProfile*> agentByLine_;
};

template <typename Predicate>
std::vector<std::int32_t> ScreenAttribution::childrenOfHosts(Predicate isHost) const {
    std::vector<std::int32_t> children;
    for (const ProcessSnapshot& host : processes_) {
        if (!isHost(host)) {
            continue;
        }
        const auto found = childrenByParent_.find(host.pid);
        if (found != childrenByParent_.end()) {
            children.insert(children.end(), found->second.begin(), found->second.end());
        }
    }
    return children;
}

} // namespace nodwarden::linuxplatform
