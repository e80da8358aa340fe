#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>

#include <filesystem>
#include <memory>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class FileActivityProbing;

/// Claude Code's `~/.claude/sessions/<pid>.json`: `status` "busy", "idle" or "waiting" (at a
/// permission prompt), trusted only when its
/// `pid` runs with the same `procStart` (a reused pid starts at another time).
std::unique_ptr<AgentStatusReading> claudeSessionStatusReader(std::filesystem::path home);

/// Copilot CLI's `~/.copilot/open-sessions-state.json`: `working` of the sessions opened or
/// refreshed since the agent started, as many as it runs sessions, newest first. A session that
/// died mid-turn keeps `"working": true` for good; it is older than any later run. A working
/// session whose `session-state/<id>/events.jsonl` ends its turn's events with
/// `permission.requested` waits for its user.
std::unique_ptr<AgentStatusReading> copilotSessionStateReader(std::filesystem::path home);

/// The newest transcripts (the profile's count patterns) written since the agent started, as many
/// as it runs sessions: Codex CLI's rollouts (`task_started` … `task_complete` or
/// `turn_aborted`), the agent's stated state; Gemini CLI's and Qwen Code's chats (the last record
/// is the user's while a turn runs, and after a cancelled one), an inference that holds only while
/// the agent's process tree shows a sign of work. No transcript of a turn since the agent started
/// means it has not been given one.
std::unique_ptr<AgentStatusReading>
codexRolloutReader(std::shared_ptr<const FileActivityProbing> probe);
std::unique_ptr<AgentStatusReading>
geminiChatReader(std::shared_ptr<const FileActivityProbing> probe);
std::unique_ptr<AgentStatusReading>
qwenChatReader(std::shared_ptr<const FileActivityProbing> probe);

/// Every agent's reader, OpenCode's database included, over the user's home folder; transcripts
/// are found through `probe`, which the session-file detector shares.
std::vector<std::unique_ptr<AgentStatusReading>>
standardStatusReaders(const std::filesystem::path& home,
                      const std::shared_ptr<const FileActivityProbing>& probe);

} // namespace nodwarden
