#include <NodwardenCore/statusrecords/OpenCodeStatusReader.hpp>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <set>
#include <system_error>
#include <utility>

namespace nodwarden {
namespace {

/// OpenCode holds its write lock only for short transactions; a pass never waits longer.
constexpr int busyTimeoutMilliseconds = 100;
/// The longest one reading may take, whatever the store holds.
constexpr auto readingDeadline = std::chrono::seconds(1);
/// Virtual machine steps between looks at the clock.
constexpr int stepsBetweenDeadlineChecks = 1000;
/// A message row is its metadata (the text lives elsewhere); a larger value ends the reading
/// instead of being loaded.
constexpr int largestValueBytes = 4 * 1024 * 1024;
/// More messages than sessions an agent runs at once, so the newest of each is among them.
constexpr int newestMessages = 64;

// The inner query picks the newest rows by their indexed columns before any JSON is touched.
constexpr const char* newestMessagesQuery =
    "SELECT m.session_id, json_extract(m.data, '$.role'),"
    " json_extract(m.data, '$.time.completed') IS NOT NULL, m.time_updated"
    " FROM (SELECT id FROM main.message ORDER BY time_created DESC LIMIT ?1) AS newest"
    " JOIN main.message AS m ON m.id = newest.id ORDER BY m.time_created DESC";

// A view (a recursive one never ends) or a virtual table in its place is no store of OpenCode's.
constexpr const char* messageIsTableQuery =
    "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = 'message'"
    " COLLATE NOCASE AND sql LIKE 'CREATE TABLE%'";

struct Connection {
    sqlite3* handle = nullptr;
    ~Connection() { sqlite3_close_v2(handle); }
};

struct Statement {
    sqlite3_stmt* handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
};

/// The files SQLite may open beside the store.
constexpr const char* journalSuffixes[] = {"-wal", "-shm", "-journal"};

/// Non-zero ends the running statement, which then fails with SQLITE_INTERRUPT.
int pastDeadline(void* deadline) {
    return std::chrono::steady_clock::now() >
                   *static_cast<const std::chrono::steady_clock::time_point*>(deadline)
               ? 1
               : 0;
}

/// Whether `path` is a regular file and no link; `mustExist` false lets it be missing.
bool isPlainFile(const std::filesystem::path& path, bool mustExist) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return !mustExist;
    }
    return !error && status.type() == std::filesystem::file_type::regular;
}

/// SQLite opens the store and its journals blocking: a FIFO or a device put in the place of any
/// of them would stop the pass in that open, so each must be a regular file, never a link.
bool storeFilesArePlain(const std::filesystem::path& database) {
    if (!isPlainFile(database, true)) {
        return false; // also never lets SQLite create a store of its own
    }
    return std::all_of(
        std::begin(journalSuffixes), std::end(journalSuffixes),
        [&](const char* suffix) { return isPlainFile(database.string() + suffix, false); });
}

bool messageIsTable(sqlite3* connection) {
    Statement statement;
    return sqlite3_prepare_v2(connection, messageIsTableQuery, -1, &statement.handle, nullptr) ==
               SQLITE_OK &&
           sqlite3_step(statement.handle) == SQLITE_ROW &&
           sqlite3_column_int(statement.handle, 0) == 1;
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

class OpenCodeDatabaseReader final : public AgentStatusReading {
public:
    explicit OpenCodeDatabaseReader(std::filesystem::path home) : home_(std::move(home)) {}
    std::string_view profileID() const override { return "opencode"; }
    bool recordsEveryTurn() const override { return true; }

    std::optional<AgentWorkState> read(const RunningAgent& agent, Date /*now*/) override {
        if (!agent.startedAt) {
            return std::nullopt;
        }
        const auto sessions =
            readOpenCodeSessions(home_ / ".local" / "share" / "opencode" / "opencode.db");
        if (!sessions) {
            return std::nullopt;
        }
        std::optional<AgentWorkState> combined;
        int spoken = 0;
        for (const OpenCodeMessageState& session : *sessions) {
            if (spoken == std::max(agent.sessions, 1) || !agent.mayHaveWritten(session.updatedAt)) {
                break; // newest first: the rest are older still
            }
            ++spoken;
            const bool working = session.role == "user" || !session.completed;
            if (working) {
                return AgentWorkState::working;
            }
            combined = AgentWorkState::idle;
        }
        return combined;
    }

private:
    std::filesystem::path home_;
};

} // namespace

std::optional<std::vector<OpenCodeMessageState>>
readOpenCodeSessions(const std::filesystem::path& database) {
    if (!storeFilesArePlain(database)) {
        return std::nullopt;
    }
    auto deadline = std::chrono::steady_clock::now() + readingDeadline;
    Connection connection;
    if (sqlite3_open_v2(database.c_str(), &connection.handle,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        return std::nullopt;
    }
    sqlite3_progress_handler(connection.handle, stepsBetweenDeadlineChecks, &pastDeadline,
                             &deadline);
    sqlite3_busy_timeout(connection.handle, busyTimeoutMilliseconds);
    sqlite3_limit(connection.handle, SQLITE_LIMIT_LENGTH, largestValueBytes);
    sqlite3_db_config(connection.handle, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    if (!messageIsTable(connection.handle)) {
        return std::nullopt;
    }
    Statement statement;
    if (sqlite3_prepare_v2(connection.handle, newestMessagesQuery, -1, &statement.handle,
                           nullptr) != SQLITE_OK ||
        sqlite3_bind_int(statement.handle, 1, newestMessages) != SQLITE_OK) {
        return std::nullopt;
    }
    std::vector<OpenCodeMessageState> sessions;
    std::set<std::string> seen;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement.handle)) == SQLITE_ROW) {
        std::string session = columnText(statement.handle, 0);
        if (!seen.insert(session).second) {
            continue; // an older message of a session already seen
        }
        // Milliseconds since 1970.
        const auto updated = static_cast<double>(sqlite3_column_int64(statement.handle, 3));
        sessions.push_back({std::move(session), columnText(statement.handle, 1),
                            sqlite3_column_int(statement.handle, 2) != 0,
                            dateFromUnixTime(updated / 1000.0)});
    }
    if (step != SQLITE_DONE) {
        return std::nullopt;
    }
    // Sessions by their newest message; a session's newest message may be updated last.
    std::stable_sort(sessions.begin(), sessions.end(),
                     [](const OpenCodeMessageState& a, const OpenCodeMessageState& b) {
                         return a.updatedAt > b.updatedAt;
                     });
    return sessions;
}

std::unique_ptr<AgentStatusReading> openCodeDatabaseReader(std::filesystem::path home) {
    return std::make_unique<OpenCodeDatabaseReader>(std::move(home));
}

} // namespace nodwarden
