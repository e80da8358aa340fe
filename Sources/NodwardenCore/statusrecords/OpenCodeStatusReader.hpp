#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The newest message of one OpenCode session, as far as a verdict needs it.
struct OpenCodeMessageState {
    std::string sessionID;
    /// "user" or "assistant".
    std::string role;
    /// Whether `time.completed` is set: unset on the assistant message while it is generated.
    bool completed = false;
    /// `time_updated` of the row.
    Date updatedAt = 0;

    bool operator==(const OpenCodeMessageState&) const = default;
};

/// The newest message of each session in OpenCode's SQLite store, newest session first: only the
/// role and whether it completed, extracted inside SQLite so no message text is ever copied out.
/// Opened read-only (the store is in WAL mode and stays writable by OpenCode), with a short busy
/// time-out and a deadline of a second for the whole reading. None when the store cannot be read,
/// when it or a journal beside it is no regular file (or a link), or when `message` is no table.
std::optional<std::vector<OpenCodeMessageState>>
readOpenCodeSessions(const std::filesystem::path& database);

/// OpenCode's `~/.local/share/opencode/opencode.db`: working while the newest message of a session
/// updated since the agent started is the user's or an assistant message not yet completed.
std::unique_ptr<AgentStatusReading> openCodeDatabaseReader(std::filesystem::path home);

} // namespace nodwarden
