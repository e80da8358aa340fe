// The agents' own status records, written in the formats today's agents use, judged against a
// process table of the agent that wrote them.

#include <NodwardenCore/AgentResolver.hpp>
#include <NodwardenCore/AgentStatusReaders.hpp>
#include <NodwardenCore/FileActivityProbe.hpp>
#include <NodwardenCore/Models.hpp>
#include <NodwardenCore/OpenCodeStatusReader.hpp>
#include <NodwardenCore/StatusRecordDetector.hpp>
#include <NodwardenCore/StatusRecordFiles.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace nodwarden;
using stayloom::testing::TemporaryDirectory;
using State = AgentWorkState;

namespace {

constexpr std::optional<State> working = State::working;
constexpr std::optional<State> idle = State::idle;
constexpr std::optional<State> unknown = std::nullopt;

/// How long before (negative: after) the agent's process started its records were written.
constexpr double startedBeforeWriting = 100;
constexpr double startedAfterWriting = -100;

struct File {
    std::string path;
    std::string contents;
};

struct Case {
    const char* what;
    ProcessSnapshot process; ///< startedAt is set relative to the files' write time
    std::vector<File> files;
    double startedBefore;
    std::optional<State> expected;
};

std::string lines(const std::vector<std::string>& records) {
    std::string text;
    for (const auto& record : records) {
        text += record + "\n";
    }
    return text;
}

std::string codexEvent(const std::string& kind) {
    return R"({"timestamp":"2026-12-08T11:00:00.000Z","ordinal":3,"type":"event_msg","payload":{"type":")" +
           kind + R"(","turn_id":"t1"}})";
}
std::string codexReply(std::size_t length) {
    return R"({"timestamp":"2026-12-08T11:00:01.000Z","type":"response_item","payload":{"type":"message","role":"assistant","content":[{"type":"output_text","text":")" +
           std::string(length, 'x') + R"("}]}})";
}

const std::string rollout = ".codex/sessions/2026/12/08/rollout-2026-12-08T11-00-00-0190a1b2.jsonl";
const std::string geminiChat = ".gemini/tmp/4f2a/chats/session-2026-12-08T11-00-a1b2.jsonl";
const std::string qwenChat = ".qwen/projects/-home-u-app/chats/6b1c.jsonl";
const std::string geminiHeader =
    R"({"sessionId":"a1b2","projectHash":"4f2a","startTime":"2026-12-08T11:00:00.000Z","lastUpdated":"2026-12-08T11:00:00.000Z","kind":"main"})";
const std::string geminiUser =
    R"({"id":"m1","timestamp":"2026-12-08T11:00:05.000Z","type":"user","content":[{"text":"fix it"}]})";
const std::string geminiReply =
    R"({"id":"m2","timestamp":"2026-12-08T11:00:45.000Z","type":"gemini","content":"done","thoughts":[]})";
const std::string geminiPatch = R"({"$set":{"lastUpdated":"2026-12-08T11:00:45.000Z"}})";
std::string qwenRecord(const std::string& type) {
    return R"({"uuid":"u2","parentUuid":"u1","sessionId":"6b1c","timestamp":"2026-12-08T11:00:05.000Z","type":")" +
           type + R"(","message":{"role":"x","parts":[{"text":"hello"}]}})";
}
std::string claudeSession(const std::string& status, const std::string& procStart) {
    return R"({"pid":4242,"procStart":)" + procStart +
           R"(,"sessionId":"5d1e","cwd":"/home/u/app","startedAt":1796727700000,"updatedAt":1796727800000,"statusUpdatedAt":1796727800000,"kind":"interactive","status":")" +
           status + R"("})";
}
std::string copilotState(const std::vector<std::pair<std::string, std::string>>& sessions) {
    std::string text = "{";
    for (const auto& [id, body] : sessions) {
        text += (text.size() > 1 ? "," : "") + std::string("\"") + id + "\":" + body;
    }
    return text + "}";
}

ProcessSnapshot agentProcess(int pid, const std::string& command,
                             std::optional<std::uint64_t> startTime = std::nullopt) {
    return ProcessSnapshot(pid, 900, 0.5, command, command, startTime);
}

Date realNow() {
    return dateFromUnixTime(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
}

/// The verdict on `c` with its files last written `age` seconds ago.
std::optional<State> judge(const Case& c, double age = 0) {
    TemporaryDirectory home;
    std::optional<Date> written;
    for (const File& file : c.files) {
        const auto path = home.write(file.path, file.contents);
        std::filesystem::last_write_time(
            path, std::filesystem::last_write_time(path) -
                      std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
                          std::chrono::duration<double>(age)));
        written = StatusRecordFiles::modificationDate(path);
    }
    EXPECT_TRUE(written.has_value()) << c.what;
    ProcessSnapshot process = c.process;
    process.startedAt = written.value_or(0) - c.startedBefore;
    StatusRecordDetector detector(
        standardStatusReaders(home.path(), std::make_shared<FileActivityProbe>(home.path(), 8)));
    const std::vector<ProcessSnapshot> table = {ProcessSnapshot(900, 1, 0, "/bin/bash", "-bash"),
                                                process};
    const auto verdicts = detector.detectVerdicts(GuardSettings::defaults(), table, realNow());
    EXPECT_LE(verdicts.size(), 1U) << c.what;
    if (verdicts.empty()) {
        return std::nullopt;
    }
    EXPECT_EQ(verdicts[0].source, AgentVerdictSource::statusRecord);
    return verdicts[0].state;
}

} // namespace

TEST(StatusRecordDetector, EachAgentsRecordSpeaksOnlyForTheRunningAgent) {
    const auto claude = agentProcess(4242, "/home/u/.local/share/claude/versions/2.1.197", 987654);
    const auto codex = agentProcess(
        31, "/home/u/lib/node_modules/@openai/codex/vendor/x86_64-unknown-linux-musl/bin/codex");
    const auto copilot =
        agentProcess(41, "/home/u/lib/node_modules/@github/copilot-linux-x64/copilot");
    const auto gemini =
        ProcessSnapshot(51, 900, 0.5, "/usr/bin/node",
                        "/usr/bin/node --max-old-space-size=4096 /home/u/.bin/gemini");
    const auto qwen =
        ProcessSnapshot(61, 900, 0.5, "/usr/bin/node", "/usr/bin/node /home/u/.bin/qwen");
    const std::string claudeFile = ".claude/sessions/4242.json";
    const std::string copilotFile = ".copilot/open-sessions-state.json";
    // Copilot's times: refreshed one second after the process started, or a day before it.
    const auto copilotSession = [](bool isWorking, const char* refreshedAt) {
        return std::string(
                   R"({"schemaVersion":1,"openedAt":"2020-01-01T00:00:00.000Z","refreshedAt":)") +
               refreshedAt + R"(,"working":)" + (isWorking ? "true" : "false") + "}";
    };
    const std::string farFuture = "4102444800000"; // 2100, in milliseconds
    const std::string longAgo = "\"2020-01-02T00:00:00Z\"";
    std::string huge;
    while (huge.size() < 70 * 1024) {
        huge += codexReply(900) + "\n";
    }

    // clang-format off
    const std::vector<Case> cases = {
        {"claude busy",            claude, {{claudeFile, claudeSession("busy", "\"987654\"")}}, startedBeforeWriting, working},
        {"claude idle",            claude, {{claudeFile, claudeSession("idle", "987654")}},     startedBeforeWriting, idle},
        {"claude dead pid",        agentProcess(5000, "claude", 987654), {{claudeFile, claudeSession("busy", "987654")}}, startedBeforeWriting, unknown},
        {"claude reused pid",      agentProcess(4242, "claude", 111), {{claudeFile, claudeSession("busy", "987654")}}, startedBeforeWriting, unknown},
        {"claude truncated",       claude, {{claudeFile, claudeSession("busy", "987654").substr(0, 60)}}, startedBeforeWriting, unknown},
        {"copilot working",        copilot, {{copilotFile, copilotState({{"s1", copilotSession(true, farFuture.c_str())}})}}, startedBeforeWriting, working},
        {"copilot stale working beside an idle session", copilot,
         {{copilotFile, copilotState({{"dead", copilotSession(true, longAgo.c_str())}, {"live", copilotSession(false, farFuture.c_str())}})}},
         startedBeforeWriting, idle},
        {"copilot only a stale working", copilot, {{copilotFile, copilotState({{"dead", copilotSession(true, longAgo.c_str())}})}}, startedBeforeWriting, unknown},
        {"codex turn running",     codex, {{rollout, lines({codexEvent("task_complete"), codexEvent("task_started"), codexReply(20)})}}, startedBeforeWriting, working},
        {"codex turn done",        codex, {{rollout, lines({codexEvent("task_started"), codexReply(20), codexEvent("task_complete")})}}, startedBeforeWriting, idle},
        {"codex rollout older than the process", codex, {{rollout, lines({codexEvent("task_started")})}}, startedAfterWriting, unknown},
        {"codex being appended",   codex, {{rollout, lines({codexEvent("task_started")}) + codexEvent("task_complete").substr(0, 70)}}, startedBeforeWriting, working},
        {"codex huge: the start is beyond the last 64 KiB", codex, {{rollout, lines({codexEvent("task_started")}) + huge}}, startedBeforeWriting, unknown},
        {"codex huge: the start is in the last 64 KiB",     codex, {{rollout, huge + lines({codexEvent("task_started")})}}, startedBeforeWriting, working},
        {"gemini reply pending",   gemini, {{geminiChat, lines({geminiHeader, geminiUser, geminiReply, geminiUser, geminiPatch})}}, startedBeforeWriting, working},
        {"gemini reply written",   gemini, {{geminiChat, lines({geminiHeader, geminiUser, geminiReply, geminiPatch})}}, startedBeforeWriting, idle},
        {"gemini chat of an earlier run", gemini, {{geminiChat, lines({geminiHeader, geminiUser})}}, startedAfterWriting, unknown},
        {"qwen answered",          qwen, {{qwenChat, lines({qwenRecord("user"), qwenRecord("assistant"), qwenRecord("system")})}}, startedBeforeWriting, idle},
        {"qwen asked",             qwen, {{qwenChat, lines({qwenRecord("assistant"), qwenRecord("user"), qwenRecord("system")})}}, startedBeforeWriting, working},
        {"qwen without records of a turn", qwen, {{qwenChat, lines({qwenRecord("system")})}}, startedBeforeWriting, unknown}};
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(judge(c), c.expected) << c.what;
    }
}

TEST(StatusRecordDetector, AChatLeftAtTheUsersPromptStopsSpeakingAfterAQuarterHour) {
    // A cancelled turn leaves the user's record last, as a running one does.
    const Case pending = {
        "gemini reply pending",
        ProcessSnapshot(51, 900, 0.5, "/usr/bin/node", "node /home/u/.bin/gemini"),
        {{geminiChat, lines({geminiHeader, geminiUser})}},
        startedBeforeWriting,
        working};
    EXPECT_EQ(judge(pending, 5 * 60), working) << "a long silent thinking phase";
    EXPECT_EQ(judge(pending, 16 * 60), unknown);
    Case answered = pending;
    answered.files = {{geminiChat, lines({geminiHeader, geminiUser, geminiReply})}};
    EXPECT_EQ(judge(answered, 16 * 60), idle) << "an idle chat stays idle";
}

TEST(StatusRecordDetector, NothingIsReadWhenSwitchedOffOrWhenNoAgentRuns) {
    TemporaryDirectory home;
    home.write(".claude/sessions/4242.json", claudeSession("busy", "987654"));
    StatusRecordDetector detector(
        standardStatusReaders(home.path(), std::make_shared<FileActivityProbe>(home.path(), 8)));
    const std::vector<ProcessSnapshot> table = {
        ProcessSnapshot(4242, 1, 0, "claude", "claude", 987654, 0.0)};
    GuardSettings settings = GuardSettings::defaults();
    ASSERT_EQ(detector.detectVerdicts(settings, table, 0).size(), 1U);
    EXPECT_EQ(detector.detectVerdicts(settings, table, 0)[0],
              (AgentVerdict{"Claude Code", State::working, AgentVerdictSource::statusRecord}));

    settings.disabledAgentIDs = {"claude-code"};
    EXPECT_TRUE(detector.detectVerdicts(settings, table, 0).empty()) << "a disabled agent";
    settings = GuardSettings::defaults();
    settings.statusRecordDetectionEnabled = false;
    EXPECT_TRUE(detector.detectVerdicts(settings, table, 0).empty()) << "switched off";
    EXPECT_TRUE(detector.detectVerdicts(GuardSettings::defaults(), {}, 0).empty());
}

TEST(StatusRecordDetector, RunningAgentsCountSessionsAndLeaveOutDaemons) {
    const AgentResolver resolver = AgentResolver::make(GuardSettings::defaults());
    const std::string daemon =
        "/home/u/.codex/packages/app-server-daemon/releases/0.171.0/bin/codex";
    const std::vector<ProcessSnapshot> table = {
        ProcessSnapshot(10, 1, 0, "/usr/bin/node", "node /home/u/.bin/gemini", 5, 20.0),
        ProcessSnapshot(11, 10, 0, "/usr/bin/node",
                        "/usr/bin/node --max-old-space-size=8 /home/u/.bin/gemini", 9, 24.0),
        ProcessSnapshot(12, 1, 0, "/usr/bin/node", "node /home/u/.bin/gemini", 7, 22.0),
        ProcessSnapshot(20, 1, 0, daemon, daemon + " app-server --listen unix://", 3, 10.0),
    };
    const auto agents = runningAgents(resolver, table);
    ASSERT_EQ(agents.size(), 1U) << "the daemon is no running Codex";
    const RunningAgent& gemini = agents.at("gemini-cli");
    EXPECT_EQ(gemini.sessions, 2) << "the relaunched child belongs to its parent's session";
    EXPECT_EQ(gemini.startedAt, 20.0) << "the first process's start";
    EXPECT_TRUE(gemini.mayHaveWritten(19.5));
    EXPECT_FALSE(gemini.mayHaveWritten(18.0));
    EXPECT_FALSE(gemini.mayHaveWritten(std::nullopt));
}

namespace {

void execute(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "") << "\n"
        << sql;
}

} // namespace

TEST(StatusRecordDetector, OpenCodeStoreIsReadOnlyAndWithoutMessageText) {
    TemporaryDirectory home;
    const auto folder = home.path() / ".local/share/opencode";
    std::filesystem::create_directories(folder);
    const auto path = folder / "opencode.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    execute(db, "PRAGMA journal_mode=WAL");
    execute(db,
            "CREATE TABLE message(id TEXT PRIMARY KEY, session_id TEXT NOT NULL, "
            "time_created INTEGER NOT NULL, time_updated INTEGER NOT NULL, data TEXT NOT NULL)");
    // s1 finished a turn at 1000 s; s2's assistant message is being generated since 2000 s.
    execute(db, R"(INSERT INTO message VALUES
        ('m1','s1',1000000,1000000,'{"role":"user","time":{"created":1000000}}'),
        ('m2','s1',1000500,1040000,'{"role":"assistant","time":{"created":1000500,"completed":1040000},"finish":"stop"}'),
        ('m3','s2',2000000,2000000,'{"role":"user","time":{"created":2000000}}'),
        ('m4','s2',2000100,2000900,'{"role":"assistant","time":{"created":2000100}}'))");

    // The writer keeps its connection open, as OpenCode does: the reader goes through the WAL.
    const auto sessions = readOpenCodeSessions(path);
    ASSERT_TRUE(sessions.has_value());
    const std::vector<OpenCodeMessageState> expected = {
        {"s2", "assistant", false, dateFromUnixTime(2000.9)},
        {"s1", "assistant", true, dateFromUnixTime(1040.0)}};
    EXPECT_EQ(*sessions, expected);

    const auto reader = openCodeDatabaseReader(home.path());
    const AgentResolver resolver = AgentResolver::make(GuardSettings::defaults());
    const auto judge = [&](Date startedAt, int sessionCount) {
        RunningAgent agent;
        agent.profile = &resolver.profiles.at(4);
        agent.sessions = sessionCount;
        agent.startedAt = startedAt;
        return reader->read(agent, dateFromUnixTime(5000));
    };
    EXPECT_EQ(resolver.profiles.at(4).id, "opencode");
    EXPECT_EQ(judge(dateFromUnixTime(1500), 1), working) << "s2 generates";
    EXPECT_EQ(judge(dateFromUnixTime(3000), 1), unknown) << "both sessions are of an earlier run";
    execute(
        db,
        R"(UPDATE message SET time_updated=2050000, data='{"role":"assistant","time":{"created":2000100,"completed":2050000},"finish":"stop"}' WHERE id='m4')");
    EXPECT_EQ(judge(dateFromUnixTime(1500), 1), idle);
    sqlite3_close(db);

    const auto before = std::filesystem::last_write_time(path);
    EXPECT_EQ(judge(dateFromUnixTime(900), 2), idle);
    EXPECT_EQ(std::filesystem::last_write_time(path), before) << "the store is never written";
    EXPECT_FALSE(readOpenCodeSessions(home.path() / "missing.db").has_value());
    EXPECT_FALSE(std::filesystem::exists(home.path() / "missing.db")) << "nothing is created";
}

namespace {

/// What another program may leave where an agent's record belongs.
enum class Planted { fifo, linkToDevice };

void plant(const std::filesystem::path& path, Planted what) {
    std::filesystem::create_directories(path.parent_path());
    if (what == Planted::fifo) {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    } else {
        std::filesystem::create_symlink("/dev/zero", path);
    }
}

/// Runs `work` on a thread and says whether it ended within a bound far beyond any real reading.
/// A reading stuck in the open of one of `fifos` is then let go by a writer coming and going,
/// so a fault fails the test instead of hanging it.
template <typename Work>
bool endsPromptly(Work work, const std::vector<std::filesystem::path>& fifos) {
    std::promise<void> ended;
    auto done = ended.get_future();
    std::thread thread([&] {
        work();
        ended.set_value();
    });
    const bool prompt = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        for (const auto& fifo : fifos) {
            if (const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK); fd >= 0) {
                ::close(fd);
            }
        }
    }
    thread.join();
    return prompt;
}

} // namespace

TEST(StatusRecordDetector, AFifoOrADeviceInPlaceOfARecordIsNoRecordAndNeverBlocks) {
    const auto claude = agentProcess(4242, "claude", 987654);
    const auto codex = agentProcess(31, "codex");
    const auto copilot = agentProcess(41, "copilot");
    const auto gemini = ProcessSnapshot(51, 900, 0.5, "/usr/bin/node", "node /home/u/.bin/gemini");
    const auto qwen = ProcessSnapshot(61, 900, 0.5, "/usr/bin/node", "node /home/u/.bin/qwen");
    const auto opencode = agentProcess(71, "opencode");
    const std::string openCodeStore = ".local/share/opencode/opencode.db";
    struct Record {
        ProcessSnapshot process;
        std::string path;
    };
    const std::vector<Record> records = {
        {claude, ".claude/sessions/4242.json"},
        {copilot, ".copilot/open-sessions-state.json"},
        {codex, rollout},
        {gemini, geminiChat},
        {qwen, qwenChat},
        {opencode, openCodeStore},
        {opencode, openCodeStore + "-wal"},
    };
    for (const Record& record : records) {
        for (const Planted what : {Planted::fifo, Planted::linkToDevice}) {
            const std::string label =
                record.path + (what == Planted::fifo ? " as a FIFO" : " linked to /dev/zero");
            TemporaryDirectory home;
            if (record.path.ends_with("-wal")) {
                // A real store whose write-ahead log is what was planted.
                sqlite3* db = nullptr;
                ASSERT_EQ(sqlite3_open(home.write(openCodeStore, "").c_str(), &db), SQLITE_OK);
                execute(db, "PRAGMA journal_mode=WAL");
                execute(db, "CREATE TABLE message(id TEXT, session_id TEXT, time_created INTEGER,"
                            " time_updated INTEGER, data TEXT)");
                sqlite3_close(db);
            }
            const auto path = home.path() / record.path;
            plant(path, what);
            ProcessSnapshot process = record.process;
            process.startedAt = realNow() - startedBeforeWriting;
            StatusRecordDetector detector(standardStatusReaders(
                home.path(), std::make_shared<FileActivityProbe>(home.path(), 8)));
            const std::vector<ProcessSnapshot> table = {
                ProcessSnapshot(900, 1, 0, "/bin/bash", "-bash"), process};
            std::vector<AgentVerdict> verdicts;
            EXPECT_TRUE(endsPromptly(
                [&] {
                    verdicts = detector.detectVerdicts(GuardSettings::defaults(), table, realNow());
                },
                {path}))
                << label;
            EXPECT_TRUE(verdicts.empty()) << label;
        }
    }
}

TEST(StatusRecordDetector, AnOpenCodeQueryThatWouldNotEndIsNeverRunOrIsCut) {
    TemporaryDirectory home;
    const auto store = [&](const std::string& name, const std::vector<std::string>& statements) {
        const auto path = home.write(name, "");
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        for (const auto& statement : statements) {
            execute(db, statement);
        }
        sqlite3_close(db);
        return path;
    };
    // A view whose rows go on for ever: no query over it ends.
    const auto endless = store("endless.db", {R"(CREATE VIEW message AS WITH RECURSIVE rows(n) AS
        (SELECT 1 UNION ALL SELECT n + 1 FROM rows)
        SELECT 'm' || n AS id, 's' AS session_id, n AS time_created, n AS time_updated,
               '{"role":"user"}' AS data FROM rows)"});
    EXPECT_FALSE(readOpenCodeSessions(endless).has_value()) << "a view";
    // A real table whose every row costs megabytes of work to sort: minutes for the query. The
    // costly column comes last, so filling the table does not pay for it.
    const auto costly = store(
        "costly.db",
        {"CREATE TABLE message(id TEXT PRIMARY KEY, session_id TEXT, time_updated INTEGER, "
         "data TEXT)",
         "WITH RECURSIVE rows(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM rows WHERE n < 100000)"
         " INSERT INTO message SELECT 'm' || n, 's', n, '{\"role\":\"user\"}' FROM rows",
         "ALTER TABLE message ADD COLUMN time_created INTEGER AS"
         " (length(hex(zeroblob(1000000 + time_updated % 2))) + time_updated)"});
    EXPECT_FALSE(readOpenCodeSessions(costly).has_value()) << "a query past its deadline";
}
