#pragma once

#include <NodwardenCore/hooks/HookAgents.hpp>
#include <NodwardenCore/hooks/HookWitness.hpp>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace nodwarden::app {

/// `stayloom hook AGENT EVENT`, run by an agent's own command hook at its turn's events. It hands
/// the event to the running copy and must never hold up or fail the agent: it prints nothing,
/// always exits 0, and every wait is bounded: once the agent has handed over its event it returns
/// within a few tens of milliseconds whether a copy runs or not. Plain C++ with no Qt, so that the
/// program can run it before its heavy start.
namespace HookCommand {

/// The most of the event's JSON read from standard input.
inline constexpr std::size_t maxEventBytes = 64 * 1024;
/// How long the agent has to hand over the event's JSON. A busy agent writes it late (OpenCode,
/// asking a question, took over 15 ms), and an event without its session would be taken for
/// another session's; agents that write it at once are not held up by the bound.
inline constexpr std::chrono::milliseconds readDeadline{250};
/// How long the running copy has to take the connection, the event and to acknowledge it.
inline constexpr std::chrono::milliseconds sendDeadline{20};
/// How far up the parent chain the agent is looked for.
inline constexpr int maxAncestors = 32;

/// The longest session id passed on; a longer one would not fit the control socket's request.
inline constexpr std::size_t maxSessionBytes = 256;

/// The session of the event's JSON (`session_id`, or Copilot's `sessionId`); empty when it names
/// none or one longer than `maxSessionBytes`. Nothing else of it is kept.
std::string sessionOf(std::string_view eventJSON);

/// The longest kind of notification passed on.
inline constexpr std::size_t maxKindBytes = 64;

/// The kind of a notification event (`notification_type`: "permission_prompt", "idle_prompt",
/// "ToolPermission"); empty when it names none, or anything but one word of letters and `_` of
/// at most `maxKindBytes`. It is the agent's word for what it asks, never the user's text.
std::string kindOf(std::string_view eventJSON);

/// A process as /proc names it: its pid and its start in clock ticks since boot.
struct ProcessName {
    pid_t pid = 0;
    std::uint64_t startTime = 0;
};

/// The nearest process from `from` upwards that the catalog credits to `agent`'s profile (a
/// daemon of the agent counting as the agent), read under `procRoot`; none within
/// `maxAncestors` steps.
std::optional<ProcessName> findAgent(const std::filesystem::path& procRoot, pid_t from,
                                     const HookAgent& agent);

/// The line sent over the control socket for `event`.
std::string requestLine(const HookEvent& event);

/// Runs the command with the words after "hook"; always 0.
int run(std::string_view agentWord, std::string_view eventName) noexcept;

} // namespace HookCommand

} // namespace nodwarden::app
