#include <NodwardenLinux/LogindInhibitorWitness.hpp>

#include <NodwardenCore/detection/DetectionPass.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>
#include <NodwardenLinux/SystemBusLink.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <systemd/sd-bus.h>

namespace nodwarden::linuxplatform {

namespace {

/// Only these kinds keep a machine awake; a lid-switch or power-key lock alone says nothing
/// about work.
bool holdsOffSleep(std::string_view what) {
    while (!what.empty()) {
        const auto colon = what.find(':');
        const auto kind = what.substr(0, colon);
        if (kind == "sleep" || kind == "idle") {
            return true;
        }
        what = colon == std::string_view::npos ? std::string_view() : what.substr(colon + 1);
    }
    return false;
}

bool isWordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

/// Whether `word` stands in `text` as a word of its own: "codex" in "Codex is running an active
/// turn", never inside "codexify".
bool namesWord(std::string_view text, std::string_view word) {
    for (auto at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        const bool startsWord = at == 0 || !isWordCharacter(text[at - 1]);
        const auto end = at + word.size();
        const bool endsWord = end == text.size() || !isWordCharacter(text[end]);
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

/// The processes above `pid`, nearest first, `pid` itself included. Looping parent links end
/// the walk.
std::vector<std::int32_t> lineOf(std::int32_t pid,
                                 const std::unordered_map<std::int32_t, std::int32_t>& parents) {
    std::vector<std::int32_t> line;
    std::set<std::int32_t> visited;
    for (auto current = pid; current > 1 && visited.insert(current).second;) {
        line.push_back(current);
        const auto parent = parents.find(current);
        if (parent == parents.end()) {
            break;
        }
        current = parent->second;
    }
    return line;
}

/// The running agent whose process holds the lock or lies above its holder, else the running
/// agent its who or why names; none for a lock of no agent's.
const RunningAgent* ownerOf(const InhibitorLock& lock, const std::vector<std::int32_t>& line,
                            const std::map<std::int32_t, const RunningAgent*>& agentByPID,
                            const std::map<std::string, RunningAgent>& agents) {
    for (const auto pid : line) {
        if (const auto agent = agentByPID.find(pid); agent != agentByPID.end()) {
            return agent->second;
        }
    }
    const std::string words = UnicodeText::foldCase(lock.who + " " + lock.why);
    for (const auto& [id, agent] : agents) {
        for (const auto& name : agent.profile->cliProcessNames) {
            if (namesWord(words, UnicodeText::foldCase(name))) {
                return &agent;
            }
        }
    }
    return nullptr;
}

} // namespace

LogindInhibitorWitness::LogindInhibitorWitness(InhibitorListing listing, std::int32_t ownPID,
                                               std::uint32_t uid, bool sharesLogindsPIDs)
    : listing_(std::move(listing)), ownPID_(ownPID), uid_(uid),
      sharesLogindsPIDs_(sharesLogindsPIDs) {}

bool LogindInhibitorWitness::inNestedPIDNamespace() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("NSpid:", 0) == 0) {
            std::istringstream pids(line.substr(6));
            int count = 0;
            for (std::string pid; pids >> pid;) {
                ++count;
            }
            return count > 1;
        }
    }
    return false;
}

std::vector<AgentVerdict> LogindInhibitorWitness::detectVerdicts(const DetectionPass& pass) {
    std::vector<AgentVerdict> verdicts;
    const auto& agents = pass.runningAgents();
    if (agents.empty() || !listing_) {
        return verdicts; // logind is asked only when a lock could speak for someone
    }
    const auto locks = listing_();
    if (!locks) {
        return verdicts;
    }
    std::unordered_map<std::int32_t, std::int32_t> parents;
    for (const ProcessSnapshot& row : pass.processes()) {
        parents.emplace(row.pid, row.parentPID);
    }
    std::map<std::int32_t, const RunningAgent*> agentByPID;
    for (const auto& [id, agent] : agents) {
        for (const ProcessSnapshot& process : agent.processes) {
            agentByPID.emplace(process.pid, &agent);
        }
    }
    std::set<std::string> spoken;
    for (const InhibitorLock& lock : *locks) {
        if (lock.uid != uid_ || !holdsOffSleep(lock.what)) {
            continue;
        }
        if (lock.who == ownLockHolder) {
            continue; // our own keep-awake helper's lock is what we do, not what an agent does
        }
        const auto line = sharesLogindsPIDs_ ? lineOf(static_cast<std::int32_t>(lock.pid), parents)
                                             : std::vector<std::int32_t>{};
        if (std::find(line.begin(), line.end(), ownPID_) != line.end()) {
            continue; // below this program, whatever it calls itself
        }
        const RunningAgent* owner = ownerOf(lock, line, agentByPID, agents);
        if (owner != nullptr && spoken.insert(owner->profile->displayName).second) {
            verdicts.push_back(
                {owner->profile->displayName, AgentWorkState::working, AgentVerdictSource::lock});
        }
    }
    return verdicts;
}

std::optional<std::vector<InhibitorLock>> LogindInhibitorWitness::queryLogind() {
    SystemBusLink& link = SystemBusLink::ofThisThread();
    sd_bus* bus = link.bus();
    if (bus == nullptr) {
        return std::nullopt;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int status =
        sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", &error, &reply, "");
    // logind's own errors say nothing about the connection; anything else may be its failure.
    const bool connectionMayHaveFailed =
        status < 0 && !sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) &&
        !sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_METHOD) &&
        !sd_bus_error_has_name(&error, SD_BUS_ERROR_ACCESS_DENIED);
    sd_bus_error_free(&error);
    if (connectionMayHaveFailed) {
        link.drop();
    }
    std::optional<std::vector<InhibitorLock>> locks;
    if (status >= 0) {
        status = sd_bus_message_enter_container(reply, 'a', "(ssssuu)");
    }
    if (status >= 0) {
        locks.emplace();
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        std::uint32_t uid = 0;
        std::uint32_t pid = 0;
        while ((status = sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid,
                                             &pid)) > 0) {
            locks->push_back({what, who, why, mode, uid, pid});
        }
        if (status < 0) {
            locks.reset(); // a reply cut short is no list
        }
    }
    sd_bus_message_unref(reply);
    return locks;
}

} // namespace nodwarden::linuxplatform
