// The agents' own status records, written in the formats today's agents use, judged against a
// process table of the agent that wrote them, alone and in the merge with the other evidence.

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/ActivityDetector.hpp>
#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/SessionActivityDetector.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/statusrecords/AgentMountViews.hpp>
#include <NodwardenCore/statusrecords/AgentStatusReaders.hpp>
#include <NodwardenCore/statusrecords/OpenCodeStatusReader.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>
#include <NodwardenCore/statusrecords/StatusRecordFiles.hpp>

#include "Support/ChildProcess.hpp"
#include "Support/FakeAccessibilityPlatform.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <sstream>
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

using Source = AgentVerdictSource;

/// What a witness said about an agent: its state and the evidence that state rests on.
struct Said {
    State state;
    Source source;
    bool operator==(const Said&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Said& said) {
        return out << (said.state == State::working ? "working" : "idle") << " from source "
                   << static_cast<int>(said.source);
    }
};

const std::optional<Said> reportsWorking = Said{State::working, Source::statusRecord};
const std::optional<Said> reportsIdle = Said{State::idle, Source::statusRecord};
const std::optional<Said> chatWorking = Said{State::working, Source::conversation};
const std::optional<Said> chatIdle = Said{State::idle, Source::conversation};
const std::optional<Said> oneShot = Said{State::working, Source::oneShotRun};
const std::optional<Said> starting = Said{State::idle, Source::startUp};
const std::optional<Said> unknown = std::nullopt;

/// How long before the verdict the agent's first process started.
constexpr double longRunning = 1000;
constexpr double justStarted = 20;
/// An age for files written before a long-running agent started.
constexpr double beforeTheAgent = 1500;

struct File {
    std::string path;
    /// The text; for a path ending in ".db", SQL that builds an SQLite store there.
    std::string contents;
    /// How many seconds ago it was last written.
    double age = 0;
};

struct Case {
    const char* what;
    ProcessSnapshot process; ///< startedAt is set from processAge
    std::vector<File> files;
    double processAge;
    std::optional<Said> expected;
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
const std::string openCodeStore = ".local/share/opencode/opencode.db";
const std::string geminiHeader =
    R"({"sessionId":"a1b2","projectHash":"4f2a","startTime":"2026-12-08T11:00:00.000Z","lastUpdated":"2026-12-08T11:00:00.000Z","kind":"main"})";
const std::string geminiUser =
    R"({"id":"m1","timestamp":"2026-12-08T11:00:05.000Z","type":"user","content":[{"text":"fix it"}]})";
const std::string geminiReply =
    R"({"id":"m2","timestamp":"2026-12-08T11:00:45.000Z","type":"gemini","content":"done","thoughts":[]})";
const std::string geminiPatch = R"({"$set":{"lastUpdated":"2026-12-08T11:00:45.000Z"}})";
/// A cancelled turn: a notice, then the whole history rewritten without the cancelled prompt.
const std::string geminiCancelled =
    R"({"id":"m3","timestamp":"2026-12-08T11:01:00.000Z","type":"info","content":"Request cancelled."})";
const std::string geminiRewrite =
    R"({"$set":{"messages":[{"id":"m1","type":"user","content":[{"text":"fix it"}]},{"id":"m2","type":"gemini","content":"done"}],"lastUpdated":"2026-12-08T11:01:00.000Z"}})";
std::string qwenRecord(const std::string& type) {
    return R"({"uuid":"u2","parentUuid":"u1","sessionId":"6b1c","timestamp":"2026-12-08T11:00:05.000Z","type":")" +
           type + R"(","message":{"role":"x","parts":[{"text":"hello"}]}})";
}
/// Qwen's telemetry of a model request's end; `reply` the reply's text, empty when cancelled.
std::string qwenRequestEnded(const std::string& event, const std::string& reply) {
    return R"({"uuid":"u3","parentUuid":"u2","sessionId":"6b1c","timestamp":"2026-12-08T11:00:45.000Z","type":"system","subtype":"ui_telemetry","systemPayload":{"uiEvent":{"event.name":"qwen-code.)" +
           event + R"(","status_code":200,"output_token_count":0,"response_text":")" + reply +
           R"("}}})";
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
/// Copilot's record of one session refreshed at `refreshedAt` (a JSON value).
std::string copilotSession(bool isWorking, const std::string& refreshedAt) {
    return R"({"schemaVersion":1,"openedAt":"2020-01-01T00:00:00.000Z","refreshedAt":)" +
           refreshedAt + R"(,"working":)" + (isWorking ? "true" : "false") + "}";
}
const std::string farFuture = "4102444800000"; // 2100, in milliseconds
const std::string longAgo = "\"2020-01-02T00:00:00Z\"";

/// OpenCode's store with one session whose newest message was updated at `updatedMs` (ms since
/// 1970): the user's prompt, then the reply, completed or still being generated.
std::string openCodeTurn(std::int64_t updatedMs, bool completed) {
    const std::string asked = std::to_string(updatedMs - 1000);
    const std::string at = std::to_string(updatedMs);
    return "CREATE TABLE message(id TEXT PRIMARY KEY, session_id TEXT NOT NULL, time_created "
           "INTEGER NOT NULL, time_updated INTEGER NOT NULL, data TEXT NOT NULL);"
           "INSERT INTO message VALUES('m1','s1'," +
           asked + "," + asked + R"(,'{"role":"user"}'),('m2','s1',)" + at + "," + at +
           R"(,'{"role":"assistant","time":{"created":1)" +
           (completed ? R"(,"completed":1},"finish":"stop"}'))" : R"(}}'))");
}

void execute(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "") << "\n"
        << sql;
}

ProcessSnapshot agentProcess(int pid, const std::string& command,
                             std::optional<std::uint64_t> startTime = std::nullopt) {
    return ProcessSnapshot(pid, 900, 0.5, command, command, startTime);
}
/// A process whose argument line differs from its executable.
ProcessSnapshot agentRun(int pid, const std::string& command, const std::string& arguments,
                         double cpu = 0.5) {
    return ProcessSnapshot(pid, 900, cpu, command, arguments);
}

Date realNow() {
    return dateFromUnixTime(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
}

/// Writes `files` below `home`, each last written its age ago.
void writeFiles(const TemporaryDirectory& home, const std::vector<File>& files) {
    for (const File& file : files) {
        std::filesystem::path path;
        if (file.path.ends_with(".db")) {
            path = home.path() / file.path;
            std::filesystem::create_directories(path.parent_path());
            sqlite3* db = nullptr;
            EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            execute(db, file.contents);
            sqlite3_close(db);
        } else {
            path = home.write(file.path, file.contents);
        }
        std::filesystem::last_write_time(
            path, std::filesystem::last_write_time(path) -
                      std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
                          std::chrono::duration<double>(file.age)));
    }
}

/// The processes of a pass: the user's shell, and the agent started `processAge` ago.
std::vector<ProcessSnapshot> tableWith(ProcessSnapshot agent, double processAge, Date now) {
    agent.startedAt = now - processAge;
    return {ProcessSnapshot(900, 1, 0, "/bin/bash", "-bash"), std::move(agent)};
}

/// What the agents' own word says about the one agent of `c`.
std::optional<Said> judge(const Case& c) {
    TemporaryDirectory home;
    writeFiles(home, c.files);
    StatusRecordDetector detector(
        standardStatusReaders(home.path(), std::make_shared<FileActivityProbe>(home.path(), 8)));
    const Date now = realNow();
    const auto verdicts = detector.detectVerdicts(GuardSettings::defaults(),
                                                  tableWith(c.process, c.processAge, now), now);
    EXPECT_LE(verdicts.size(), 1U) << c.what;
    if (verdicts.empty()) {
        return std::nullopt;
    }
    return Said{verdicts[0].state, verdicts[0].source};
}

} // namespace

TEST(StatusRecordDetector, EachAgentsRecordSpeaksOnlyForTheRunningAgent) {
    const auto claude = agentProcess(4242, "/home/u/.local/share/claude/versions/2.1.197", 987654);
    const auto codex = agentProcess(
        31, "/home/u/lib/node_modules/@openai/codex/vendor/x86_64-unknown-linux-musl/bin/codex");
    const auto copilot =
        agentProcess(41, "/home/u/lib/node_modules/@github/copilot-linux-x64/copilot");
    const auto gemini = agentRun(51, "/usr/bin/node",
                                 "/usr/bin/node --max-old-space-size=4096 /home/u/.bin/gemini");
    const auto qwen = agentRun(61, "/usr/bin/node", "/usr/bin/node /home/u/.bin/qwen");
    const auto openCode = agentProcess(71, "/home/u/.bin/opencode");
    const std::string claudeFile = ".claude/sessions/4242.json";
    const std::string copilotFile = ".copilot/open-sessions-state.json";
    const File codexConfig = {".codex/config.toml", "model = \"m\"\n"};
    std::string huge;
    while (huge.size() < 70 * 1024) {
        huge += codexReply(900) + "\n";
    }
    const auto nowMs = static_cast<std::int64_t>(unixTimeFromDate(realNow()) * 1000);

    // clang-format off
    const std::vector<Case> cases = {
        {"claude busy",            claude, {{claudeFile, claudeSession("busy", "\"987654\"")}}, longRunning, reportsWorking},
        {"claude idle",            claude, {{claudeFile, claudeSession("idle", "987654")}},     longRunning, reportsIdle},
        {"claude dead pid",        agentProcess(5000, "claude", 987654), {{claudeFile, claudeSession("busy", "987654")}}, longRunning, unknown},
        {"claude reused pid",      agentProcess(4242, "claude", 111), {{claudeFile, claudeSession("busy", "987654")}}, longRunning, unknown},
        {"claude truncated",       claude, {{claudeFile, claudeSession("busy", "987654").substr(0, 60)}}, longRunning, unknown},
        {"copilot working",        copilot, {{copilotFile, copilotState({{"s1", copilotSession(true, farFuture)}})}}, longRunning, reportsWorking},
        {"copilot stale working beside an idle session", copilot,
         {{copilotFile, copilotState({{"dead", copilotSession(true, longAgo)}, {"live", copilotSession(false, farFuture)}})}},
         longRunning, reportsIdle},
        {"copilot only a stale working", copilot, {{copilotFile, copilotState({{"dead", copilotSession(true, longAgo)}})}}, longRunning, unknown},
        {"codex turn running",     codex, {{rollout, lines({codexEvent("task_complete"), codexEvent("task_started"), codexReply(20)})}}, longRunning, reportsWorking},
        {"codex turn done",        codex, {{rollout, lines({codexEvent("task_started"), codexReply(20), codexEvent("task_complete")})}}, longRunning, reportsIdle},
        {"codex turn cancelled",   codex, {{rollout, lines({codexEvent("task_started"), codexEvent("turn_aborted")})}}, longRunning, reportsIdle},
        {"codex rollout older than the process", codex, {{rollout, lines({codexEvent("task_started")}), beforeTheAgent}}, longRunning, unknown},
        {"codex being appended",   codex, {{rollout, lines({codexEvent("task_started")}) + codexEvent("task_complete").substr(0, 70)}}, longRunning, reportsWorking},
        {"codex huge: the start is beyond the last 64 KiB", codex, {{rollout, lines({codexEvent("task_started")}) + huge}}, longRunning, unknown},
        {"codex huge: the start is in the last 64 KiB",     codex, {{rollout, huge + lines({codexEvent("task_started")})}}, longRunning, reportsWorking},
        {"gemini reply pending",   gemini, {{geminiChat, lines({geminiHeader, geminiUser, geminiReply, geminiUser, geminiPatch})}}, longRunning, chatWorking},
        {"gemini reply written",   gemini, {{geminiChat, lines({geminiHeader, geminiUser, geminiReply, geminiPatch})}}, longRunning, chatIdle},
        {"gemini reply without words or calls yet: its tool is asked about or runs", gemini, {{geminiChat, lines({geminiHeader, geminiUser, R"({"id":"m2","timestamp":"2026-12-08T11:00:07.000Z","type":"gemini","content":"","thoughts":[],"tokens":{},"model":"m"})", geminiPatch})}}, longRunning, chatWorking},
        {"gemini chat of an earlier run", gemini, {{geminiChat, lines({geminiHeader, geminiUser}), beforeTheAgent}}, longRunning, unknown},
        {"qwen answered",          qwen, {{qwenChat, lines({qwenRecord("user"), qwenRecord("assistant"), qwenRecord("system")})}}, longRunning, chatIdle},
        {"qwen asked",             qwen, {{qwenChat, lines({qwenRecord("assistant"), qwenRecord("user"), qwenRecord("system")})}}, longRunning, chatWorking},
        {"qwen without records of a turn", qwen, {{qwenChat, lines({qwenRecord("system")})}}, longRunning, unknown},
        // Cancelled just now: the chat no longer awaits a reply, and the agent's CPU decides.
        {"gemini cancelled",       gemini, {{geminiChat, lines({geminiHeader, geminiUser, geminiCancelled, geminiPatch, geminiRewrite})}}, longRunning, unknown},
        {"gemini asked after a rewritten history", gemini, {{geminiChat, lines({geminiHeader, geminiRewrite, geminiUser})}}, longRunning, chatWorking},
        {"gemini's request failed", gemini, {{geminiChat, lines({geminiHeader, geminiUser, R"({"id":"m3","type":"error","content":"x"})"})}}, longRunning, unknown},
        {"qwen cancelled",         qwen, {{qwenChat, lines({qwenRecord("assistant"), qwenRecord("user"), qwenRecord("system"), qwenRequestEnded("api_response", "")})}}, longRunning, unknown},
        {"qwen's request failed",  qwen, {{qwenChat, lines({qwenRecord("user"), qwenRequestEnded("api_error", "")})}}, longRunning, unknown},
        {"qwen answered after its telemetry", qwen, {{qwenChat, lines({qwenRecord("user"), qwenRequestEnded("api_response", "hi"), qwenRecord("assistant")})}}, longRunning, chatIdle},
        {"opencode generating",    openCode, {{openCodeStore, openCodeTurn(nowMs, false)}}, longRunning, reportsWorking},
        {"opencode turn completed", openCode, {{openCodeStore, openCodeTurn(nowMs, true)}}, longRunning, reportsIdle},

        // Start-up: nothing of a turn where the agent records every turn.
        {"codex just started",     codex, {codexConfig}, justStarted, starting},
        {"codex just started and given a turn", codex, {{rollout, lines({codexEvent("task_started")})}}, justStarted, reportsWorking},
        {"gemini just started beside a chat of an earlier run", gemini, {{geminiChat, lines({geminiHeader, geminiUser}), beforeTheAgent}}, justStarted, starting},
        {"qwen just started, its chat without a turn", qwen, {{qwenChat, lines({qwenRecord("system")})}}, justStarted, starting},
        {"opencode just started, its store of earlier turns", openCode, {{openCodeStore, openCodeTurn(nowMs - 600000, false)}}, justStarted, starting},
        {"claude just started, before its session record", claude, {{".claude/sessions/17.json", claudeSession("idle", "1")}}, justStarted, starting},
        {"claude just started, a version that keeps no session records", claude, {codexConfig}, justStarted, unknown},
        {"copilot just started, before its session is opened", copilot, {codexConfig}, justStarted, starting},
        {"claude long running without a status record: its CPU decides", claude, {codexConfig}, longRunning, unknown},

        // One-shot runs, as scripts start them, work whatever the records say.
        {"claude -p",              agentRun(4242, claude.command, "claude -p fix the build"), {{claudeFile, claudeSession("idle", "987654")}}, longRunning, oneShot},
        {"codex exec after an earlier turn", agentRun(31, codex.command, "codex exec fix the build"),
         {{rollout, lines({codexEvent("task_started"), codexEvent("task_complete")})}}, longRunning, oneShot},
        {"gemini -p, relaunched", agentRun(51, "/usr/bin/node", "/usr/bin/node --max-old-space-size=4096 /home/u/.bin/gemini -p fix"), {codexConfig}, justStarted, oneShot},
        {"qwen --prompt=…",        agentRun(61, "/usr/bin/node", "/usr/bin/node /home/u/.bin/qwen --prompt=fix"), {codexConfig}, justStarted, oneShot},
        {"opencode run",           agentRun(71, openCode.command, "opencode run fix the build"), {codexConfig}, justStarted, oneShot},
        {"copilot -p",             agentRun(41, copilot.command, "node /home/u/.bin/copilot -p fix --allow-all-tools"), {codexConfig}, justStarted, oneShot},
        {"an editor's SDK session of claude is no one-shot", agentRun(4242, claude.command, "claude --output-format stream-json --verbose --input-format stream-json --print"),
         {{claudeFile, claudeSession("idle", "987654")}}, longRunning, reportsIdle},
        {"nor is it written as one word", agentRun(4242, claude.command, "claude -p --input-format=stream-json"),
         {{claudeFile, claudeSession("busy", "987654")}}, longRunning, reportsWorking},
        {"codex with a prompt is no one-shot", agentRun(31, codex.command, "codex fix the exec bit"), {codexConfig}, justStarted, starting}};
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(judge(c), c.expected) << c.what;
    }
}

TEST(StatusRecordDetector, AChatAtTheUsersPromptSpeaksOnlyWhileTheAgentShowsWork) {
    // A cancelled turn leaves the user's record last, as a running one does; while a turn runs,
    // even in silence, the agent's spinner keeps its process tree busy.
    TemporaryDirectory home;
    writeFiles(home, {{geminiChat, lines({geminiHeader, geminiUser}), 300},
                      {qwenChat, lines({qwenRecord("assistant")}), 16 * 60}});
    StatusRecordDetector detector(
        standardStatusReaders(home.path(), std::make_shared<FileActivityProbe>(home.path(), 8)));
    const Date now = realNow();
    // The agent itself and a tool it runs; each pass, the CPU shares of both.
    const auto judgeAt = [&](Date at, double agentCPU, double toolCPU = 0) -> std::optional<Said> {
        auto table = tableWith(agentRun(51, "/usr/bin/node", "node /home/u/.bin/gemini", agentCPU),
                               longRunning, now);
        table.push_back(ProcessSnapshot(52, 51, toolCPU, "/usr/bin/make", "make"));
        table.push_back(agentRun(61, "/usr/bin/node", "node /home/u/.bin/qwen", 40));
        table.back().startedAt = now - longRunning;
        const auto verdicts = detector.detectVerdicts(GuardSettings::defaults(), table, at);
        const auto gemini = std::find_if(verdicts.begin(), verdicts.end(),
                                         [](const auto& v) { return v.appName == "Gemini CLI"; });
        const auto qwen = std::find_if(verdicts.begin(), verdicts.end(),
                                       [](const auto& v) { return v.appName == "Qwen Code"; });
        EXPECT_TRUE(qwen != verdicts.end() && qwen->state == State::idle)
            << "an answered chat stays idle, however old and however busy the agent";
        if (gemini == verdicts.end()) {
            return std::nullopt;
        }
        return Said{gemini->state, gemini->source};
    };
    EXPECT_EQ(judgeAt(now, 0), unknown) << "five minutes without a sign of work: cancelled";
    EXPECT_EQ(judgeAt(now + 3, 1.3), chatWorking)
        << "the least Qwen's spinner used while its model thought in silence";
    EXPECT_EQ(judgeAt(now + 12, 0), chatWorking) << "a dip between two samples";
    EXPECT_EQ(judgeAt(now + 14, 0), unknown) << "three quiet passes: the turn is over";
    EXPECT_EQ(judgeAt(now + 17, 0, 90), chatWorking) << "a tool the agent runs";
    EXPECT_EQ(judgeAt(now + 16 * 60, 40), unknown) << "past a quarter hour the chat is stale";

    // A young agent whose chat told of a turn is past its start-up while that turn waits in
    // silence (an approval): the chat stops speaking, and nothing may say it had no turn yet.
    TemporaryDirectory young;
    writeFiles(young, {{geminiChat, lines({geminiHeader, geminiUser}), 1}});
    StatusRecordDetector fresh(
        standardStatusReaders(young.path(), std::make_shared<FileActivityProbe>(young.path(), 8)));
    const auto youngGemini = [&](Date at, double cpu) -> std::optional<Said> {
        const auto verdicts = fresh.detectVerdicts(
            GuardSettings::defaults(),
            tableWith(agentRun(51, "/usr/bin/node", "node /home/u/.bin/gemini", cpu), justStarted,
                      now),
            at);
        if (verdicts.empty()) {
            return std::nullopt;
        }
        return Said{verdicts[0].state, verdicts[0].source};
    };
    EXPECT_EQ(youngGemini(now, 1.3), chatWorking);
    EXPECT_EQ(youngGemini(now + 14, 0), unknown) << "a quiet turn, not a start-up";
}

TEST(StatusRecordDetector, OfAReplysWordsOnlyWhetherThereAreAnyLeavesTheParser) {
    const auto keep = [](int depth, const std::string& key) {
        return depth == 1 && (key == "type" || key == "content");
    };
    const auto onlyWhetherEmpty = [](int depth, const std::string& key) {
        return depth == 1 && key == "content";
    };
    const auto kept = [&](std::string_view text) {
        const auto record = StatusRecordFiles::parseKeeping(text, keep, onlyWhetherEmpty);
        return record ? record->dump() : std::string("none");
    };
    EXPECT_EQ(kept(R"({"type":"gemini","content":"the secret fix","x":1})"),
              R"({"content":"…","type":"gemini"})");
    EXPECT_EQ(kept(R"({"type":"gemini","content":""})"), R"({"content":"","type":"gemini"})");
    EXPECT_EQ(kept(R"({"type":"user","content":[{"text":"secret"},"secret"]})"),
              R"({"type":"user"})");
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
    const std::optional<State> working = State::working, idle = State::idle, none;
    EXPECT_EQ(resolver.profiles.at(4).id, "opencode");
    EXPECT_EQ(judge(dateFromUnixTime(1500), 1), working) << "s2 generates";
    EXPECT_EQ(judge(dateFromUnixTime(3000), 1), none) << "both sessions are of an earlier run";
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

/// A readable screen of the agent, scripted: what a tmux pane showed.
struct ScriptedScreen : AgentVerdictDetecting {
    std::vector<AgentVerdict> verdicts;
    std::vector<AgentVerdict> detectVerdicts(const nodwarden::DetectionPass&) override {
        return verdicts;
    }
};

struct FixedProcessTable : ProcessTableReading {
    std::vector<ProcessSnapshot> rows;
    std::vector<ProcessSnapshot> readProcessTable() override { return rows; }
};

struct MergeCase {
    const char* what;
    std::string agent; ///< the display name
    ProcessSnapshot process;
    double processAge;
    std::vector<File> files;
    std::optional<State> screen;
    SignalStrength strength;
    std::string reason;
};

} // namespace

TEST(StatusRecordDetector, TheBestEvidenceDecidesAtEveryTurnsEndAndFilesSpeakForOneAgent) {
    const auto claude =
        agentRun(4242, "/home/u/.local/share/claude/versions/2.1.197", "claude", 20);
    const auto codex = agentRun(31, "/home/u/.bin/codex", "codex", 0.5);
    const auto busyCodex = agentRun(31, "/home/u/.bin/codex", "codex", 40);
    const auto gemini = agentRun(51, "/usr/bin/node", "node /home/u/.bin/gemini", 0.1);
    const auto qwen = agentRun(61, "/usr/bin/node", "node /home/u/.bin/qwen", 0.1);
    const auto openCode = agentRun(71, "/home/u/.bin/opencode", "opencode", 0.5);
    const auto copilot = agentRun(41, "/home/u/.bin/copilot", "copilot", 3);
    const auto nowMs = static_cast<std::int64_t>(unixTimeFromDate(realNow()) * 1000);
    // The table gives no start ticks here, so the record's are not compared.
    const std::string claudeIdle = claudeSession("idle", "0");
    const std::string claudeBusy = claudeSession("busy", "0");
    const File geminiAsked = {geminiChat, lines({geminiHeader, geminiUser})};
    const auto presence = SignalStrength::presence, strong = SignalStrength::strong;
    const std::optional<State> noScreen, showsIdle = State::idle, showsWork = State::working;

    // Each cancelled turn as the agent leaves it, what a turn looks like in between, and a start.
    // clang-format off
    const std::vector<MergeCase> cases = {
        {"claude cancelled: its status goes back to idle", "Claude Code", claude, longRunning,
         {{".claude/sessions/4242.json", claudeIdle}}, noScreen, presence, "Claude Code reports it is idle"},
        {"claude's stated state outranks its screen", "Claude Code", claude, longRunning,
         {{".claude/sessions/4242.json", claudeBusy}}, showsIdle, strong, "Claude Code reports it is working"},
        {"codex cancelled: turn_aborted, its rollout fresh", "Codex CLI", codex, longRunning,
         {{rollout, lines({codexEvent("task_started"), codexEvent("turn_aborted")})}}, noScreen, presence, "Codex CLI reports it is idle"},
        {"codex at work, quiet, its rollout fresh", "Codex CLI", codex, longRunning,
         {{rollout, lines({codexEvent("task_started")})}}, noScreen, strong, "Codex CLI reports it is working"},
        {"gemini cancelled in tmux: \"Request cancelled.\"", "Gemini CLI", gemini, longRunning,
         {geminiAsked}, showsIdle, presence, "Gemini CLI shows it is idle"},
        {"gemini cancelled where no screen is read, its tree quiet", "Gemini CLI", gemini, longRunning,
         {{geminiChat, geminiAsked.contents, 300}}, noScreen, presence, "Gemini CLI is running"},
        {"gemini just asked, no screen", "Gemini CLI", gemini, longRunning,
         {geminiAsked}, noScreen, strong, "Gemini CLI's chat awaits a reply"},
        {"qwen cancelled in tmux", "Qwen Code", qwen, longRunning,
         {{qwenChat, lines({qwenRecord("assistant"), qwenRecord("user")})}}, showsIdle, presence, "Qwen Code shows it is idle"},
        {"qwen's answered chat yields to a screen at work", "Qwen Code", qwen, longRunning,
         {{qwenChat, lines({qwenRecord("user"), qwenRecord("assistant")})}}, showsWork, strong, "Qwen Code shows it is working"},
        {"opencode cancelled: its message completes", "OpenCode", openCode, longRunning,
         {{openCodeStore, openCodeTurn(nowMs, true)}}, noScreen, presence, "OpenCode reports it is idle"},
        {"copilot cancelled with ctrl+c", "Copilot CLI", copilot, longRunning,
         {{".copilot/open-sessions-state.json", copilotState({{"s1", copilotSession(false, farFuture)}})}}, noScreen, presence, "Copilot CLI reports it is idle"},
        {"codex starting: its CPU burst", "Codex CLI", busyCodex, justStarted,
         {{".codex/log/codex-tui.log", "started\n"}}, noScreen, presence, "Codex CLI has just started and has had no turn yet"},
        {"opencode starting: the files it writes", "OpenCode", openCode, justStarted,
         {{".local/share/opencode/opencode.db-wal", "wal"}}, noScreen, presence, "OpenCode has just started and has had no turn yet"},
        {"qwen starting where its screen shows work", "Qwen Code", qwen, justStarted,
         {{qwenChat, lines({qwenRecord("system")})}}, showsWork, strong, "Qwen Code shows it is working"},
        {"codex exec in a script", "Codex CLI", agentRun(31, "/home/u/.bin/codex", "codex exec fix it", 0.5), justStarted,
         {{".codex/config.toml", "model = \"m\"\n"}}, noScreen, strong, "Codex CLI runs a one-shot prompt"}};
    // clang-format on
    // Without a host system, the rule that a record explains its files must keep ChatGPT away;
    // on Linux, the ChatGPT application cannot have written Codex's rollouts at all.
    for (const std::optional<HostSystem> system :
         {std::optional<HostSystem>(), {HostSystem::linux}}) {
        for (const MergeCase& c : cases) {
            TemporaryDirectory home;
            writeFiles(home, c.files);
            const Date now = realNow();
            auto table = std::make_shared<FixedProcessTable>();
            table->rows = tableWith(c.process, c.processAge, now);
            ProcessDetector processes(table);
            stayloom::testing::FakeAccessibilityPlatform noApplications;
            AccessibilityDetector screenText(noApplications);
            const auto probe = std::make_shared<FileActivityProbe>(home.path(), 8);
            SessionActivityDetector sessions(probe, system);
            StatusRecordDetector records(standardStatusReaders(home.path(), probe));
            ScriptedScreen screen;
            if (c.screen) {
                screen.verdicts = {{c.agent, *c.screen, AgentVerdictSource::screen}};
            }
            ActivityDetector detector(processes, screenText, sessions, {&records, &screen});

            const auto signals =
                detector.detectPerApp(GuardSettings::defaults(), {true, 100, "AC"}, now);
            EXPECT_EQ(signals.size(), 1U) << c.what << ": only the running agent is shown";
            const auto found =
                std::find_if(signals.begin(), signals.end(), [&](const ActivitySignal& signal) {
                    return signal.appName == c.agent;
                });
            ASSERT_NE(found, signals.end()) << c.what;
            EXPECT_EQ(found->strength, c.strength) << c.what;
            EXPECT_EQ(found->reason, c.reason) << c.what;
        }
    }
}

namespace {

/// One agent through a turn that runs a command through its tool: its records while the turn is
/// under way and after it, and where its command runs (below the agent, or below a daemon of it).
struct ToolTurn {
    std::string agent;
    ProcessSnapshot process;
    std::vector<File> underWay;
    std::vector<File> over;
    /// What its record says while the turn is under way, and once it is over.
    std::string underWayReason;
    std::string overReason;
    /// A daemon of the agent's the command runs below (Codex's app-server); none for the agent.
    std::optional<ProcessSnapshot> daemon = std::nullopt;
};

/// One pass of the turn: what the screen shows, whether the command runs and with how much CPU,
/// whether the turn is over, and what the agent's row must come to.
struct ToolStep {
    const char* what;
    std::optional<State> screen;
    std::optional<double> commandCPU;
    bool turnOver;
    /// Our own hook runs below the agent, through the shell it runs hooks with.
    bool hookRuns;
    SignalStrength strength;
    bool waiting;
    std::optional<DecidingWitness> decidedBy;
    /// "%" stands for the agent's name; empty: what the turn's records say (`underWayReason` or
    /// `overReason`).
    std::string reason;
};

std::string named(std::string text, const std::string& agent) {
    if (const auto at = text.find('%'); at != std::string::npos) {
        text.replace(at, 1, agent);
    }
    return text;
}

} // namespace

TEST(StatusRecordDetector, ATurnLastsWhileItsToolRunsAndAWaitForTheUserIsNoWork) {
    const auto nowMs = static_cast<std::int64_t>(unixTimeFromDate(realNow()) * 1000);
    // The records each agent writes through a tool turn (observed on the real agents): the tool
    // call is the newest record while its command runs, the turn's end comes after it.
    const std::string geminiToolCall =
        R"({"id":"m2","timestamp":"2026-12-08T11:00:07.000Z","type":"gemini","content":"","toolCalls":[{"id":"c1","name":"run_shell_command","args":{"command":"sleep 150"},"status":"success"}]})";
    const std::string geminiToolResult =
        R"({"id":"m3","timestamp":"2026-12-08T11:02:37.000Z","type":"user","content":[{"functionResponse":{"name":"run_shell_command"}}]})";
    const std::string qwenToolCall =
        R"({"uuid":"u3","parentUuid":"u2","sessionId":"6b1c","timestamp":"2026-12-08T11:00:07.000Z","type":"assistant","message":{"role":"model","parts":[{"functionCall":{"name":"run_shell_command","args":{"command":"sleep 150"}}}]}})";
    const std::string qwenToolResult =
        R"({"uuid":"u4","parentUuid":"u3","sessionId":"6b1c","timestamp":"2026-12-08T11:02:37.000Z","type":"tool_result","message":{"role":"user","parts":[{"functionResponse":{"name":"run_shell_command"}}]}})";
    const std::string codexCall =
        R"({"timestamp":"2026-12-08T11:00:01.000Z","type":"response_item","payload":{"type":"function_call","name":"exec_command","arguments":"{}"}})";
    const std::string claudeFile = ".claude/sessions/4242.json";
    const std::string copilotFile = ".copilot/open-sessions-state.json";
    // clang-format off
    const std::vector<ToolTurn> turns = {
        {"Claude Code", agentRun(4242, "/home/u/.local/share/claude/versions/2.1.197", "claude", 3),
         {{claudeFile, claudeSession("busy", "0")}}, {{claudeFile, claudeSession("idle", "0")}},
         "Claude Code reports it is working", "Claude Code reports it is idle"},
        {"Codex CLI", agentRun(31, "/home/u/.bin/codex", "codex", 3),
         {{rollout, lines({codexEvent("task_started"), codexCall})}},
         {{rollout, lines({codexEvent("task_started"), codexCall, codexEvent("task_complete")})}},
         "Codex CLI reports it is working", "Codex CLI reports it is idle",
         ProcessSnapshot(32, 31, 0.5, "/home/u/.codex/packages/bin/codex", "codex app-server --listen unix://")},
        {"Gemini CLI", agentRun(51, "/usr/bin/node", "node /home/u/.bin/gemini", 3),
         {{geminiChat, lines({geminiHeader, geminiUser, geminiToolCall})}},
         {{geminiChat, lines({geminiHeader, geminiUser, geminiToolCall, geminiToolResult, geminiReply})}},
         "Gemini CLI's chat awaits a reply", "Gemini CLI's chat ends with a reply"},
        {"Qwen Code", agentRun(61, "/usr/bin/node", "node /home/u/.bin/qwen", 3),
         {{qwenChat, lines({qwenRecord("user"), qwenToolCall})}},
         {{qwenChat, lines({qwenRecord("user"), qwenToolCall, qwenToolResult, qwenRecord("assistant")})}},
         "Qwen Code's chat awaits a reply", "Qwen Code's chat ends with a reply"},
        {"OpenCode", agentRun(71, "/home/u/.bin/opencode", "opencode", 3),
         {{openCodeStore, openCodeTurn(nowMs, false)}}, {{openCodeStore, openCodeTurn(nowMs, true)}},
         "OpenCode reports it is working", "OpenCode reports it is idle"},
        {"Copilot CLI", agentRun(41, "/home/u/.bin/copilot", "copilot", 3),
         {{copilotFile, copilotState({{"s1", copilotSession(true, farFuture)}})}},
         {{copilotFile, copilotState({{"s1", copilotSession(false, farFuture)}})}},
         "Copilot CLI reports it is working", "Copilot CLI reports it is idle"},
    };
    const auto strong = SignalStrength::strong, presence = SignalStrength::presence;
    const std::optional<State> noScreen, showsIdle = State::idle, asks = State::waiting;
    const std::optional<double> noCommand, quiet = 0.0;
    const auto run = DecidingWitness::run, screen = DecidingWitness::screen,
               record = DecidingWitness::record;
    const std::vector<ToolStep> steps = {
        {"its hook tells of the turn: the hook is no command", noScreen, noCommand, false, true, strong, false, record, ""},
        {"a quiet command runs while the screen looks idle", showsIdle, quiet, false, false, strong, false, run, "% runs a command through its tool"},
        {"the next command waits for approval", asks, noCommand, false, false, presence, true, screen, "% is waiting for your answer"},
        {"a process started during the wait while the question is on screen", asks, quiet, false, false, presence, true, screen, "% is waiting for your answer"},
        {"answered: the question is gone, its command runs", showsIdle, quiet, false, false, strong, false, run, "% runs a command through its tool"},
        {"the turn is over, a quiet server left behind", noScreen, quiet, true, false, presence, false, record, ""},
        {"the server left behind gets busy", showsIdle, 40.0, true, false, strong, false, DecidingWitness::cpu, "A process % left running is busy"},
    };
    // clang-format on
    for (const ToolTurn& turn : turns) {
        TemporaryDirectory home;
        auto table = std::make_shared<FixedProcessTable>();
        ProcessDetector processes(table);
        stayloom::testing::FakeAccessibilityPlatform noApplications;
        AccessibilityDetector screenText(noApplications);
        const auto probe = std::make_shared<FileActivityProbe>(home.path(), 8);
        SessionActivityDetector sessions(probe, HostSystem::linux);
        StatusRecordDetector records(standardStatusReaders(home.path(), probe));
        ScriptedScreen screenWitness;
        ActivityDetector detector(processes, screenText, sessions, {&records, &screenWitness});
        const Date started = realNow();
        const auto pass = [&](Date now, const std::vector<File>& files, std::optional<State> shown,
                              std::optional<double> commandCPU, int commandPID,
                              bool hookRuns = false) {
            std::filesystem::remove(home.path() / openCodeStore);
            writeFiles(home, files);
            table->rows = tableWith(turn.process, longRunning, now);
            const std::int32_t parent = turn.daemon ? turn.daemon->pid : turn.process.pid;
            if (turn.daemon) {
                table->rows.push_back(*turn.daemon);
            }
            if (hookRuns) {
                table->rows.emplace_back(6900, turn.process.pid, 0, "/bin/sh",
                                         "/bin/sh -c '/usr/bin/stayloom' hook claude PreToolUse");
            }
            if (commandCPU) {
                table->rows.emplace_back(commandPID, parent, 0, "/bin/bash", "bash -c make test");
                table->rows.emplace_back(commandPID + 1, commandPID, *commandCPU, "/usr/bin/make",
                                         "make test");
            }
            screenWitness.verdicts.clear();
            if (shown) {
                screenWitness.verdicts = {{turn.agent, *shown, AgentVerdictSource::screen}};
            }
            const auto signals =
                detector.detectPerApp(GuardSettings::defaults(), {true, 100, "AC"}, now);
            const auto found = std::find_if(signals.begin(), signals.end(),
                                            [&](const auto& s) { return s.appName == turn.agent; });
            return found == signals.end() ? ActivitySignal::none() : *found;
        };
        // The turn starts: the agent's own word, no command yet.
        const ActivitySignal asked = pass(started, turn.underWay, noScreen, noCommand, 0);
        EXPECT_EQ(asked.strength, strong) << turn.agent << ": the turn started";
        for (std::size_t index = 0; index < steps.size(); ++index) {
            const ToolStep& step = steps[index];
            // The command of the first step ends; the approved one is another process.
            const int commandPID = index == 0 ? 7000 : 7100;
            const ActivitySignal signal =
                pass(started + 3.0 * double(index + 1), step.turnOver ? turn.over : turn.underWay,
                     step.screen, step.commandCPU, commandPID, step.hookRuns);
            const std::string label = turn.agent + ": " + step.what;
            EXPECT_EQ(signal.strength, step.strength) << label;
            EXPECT_EQ(signal.waitingForUser, step.waiting) << label;
            EXPECT_EQ(signal.decidedBy, step.decidedBy) << label;
            const std::string& recorded = step.turnOver ? turn.overReason : turn.underWayReason;
            EXPECT_EQ(signal.reason,
                      step.reason.empty() ? recorded : named(step.reason, turn.agent))
                << label;
        }
    }
}

TEST(StatusRecordDetector, CPUAloneMakesATurnForItsCommandsOnlyPastStartUp) {
    // An agent nothing else reads (in a container, or without records) is busy, then quiet with
    // a new child: while it starts, that is its start-up (a user's start-up hook); later, a
    // command of its turn.
    for (const double age : {justStarted, longRunning}) {
        auto table = std::make_shared<FixedProcessTable>();
        ProcessDetector processes(table);
        stayloom::testing::FakeAccessibilityPlatform noApplications;
        AccessibilityDetector screenText(noApplications);
        TemporaryDirectory home;
        SessionActivityDetector sessions(std::make_shared<FileActivityProbe>(home.path(), 8),
                                         HostSystem::linux);
        ActivityDetector detector(processes, screenText, sessions);
        const Date now = realNow();
        const auto aider = [&](Date at, double cpu, bool withChild) {
            table->rows = tableWith(agentRun(80, "/usr/bin/python3", "python3 /usr/bin/aider", cpu),
                                    age, now);
            if (withChild) {
                table->rows.emplace_back(81, 80, 0, "/bin/bash", "bash -c make test");
            }
            for (const ActivitySignal& signal :
                 detector.detectPerApp(GuardSettings::defaults(), {true, 100, "AC"}, at)) {
                if (signal.appName == "Aider") {
                    return signal;
                }
            }
            return ActivitySignal::none();
        };
        const ActivitySignal busy = aider(now, 60, false);
        ASSERT_EQ(busy.strength, SignalStrength::strong) << age;
        ASSERT_EQ(busy.decidedBy, DecidingWitness::cpu) << age;
        const ActivitySignal quiet = aider(now + 3, 0, true);
        if (age == justStarted) {
            EXPECT_NE(quiet.decidedBy, DecidingWitness::run) << "start-up: " << quiet.reason;
        } else {
            EXPECT_EQ(quiet.decidedBy, DecidingWitness::run) << "a turn: " << quiet.reason;
            EXPECT_EQ(quiet.strength, SignalStrength::strong);
        }
    }
}

namespace {

/// A process named `claude` in a mount namespace of its own whose HOME (a tmpfs mounted there
/// only) holds its session record saying busy; none of it is visible from here but through
/// /proc/PID/root. `home` is the path of that HOME inside the namespace.
class ContainedClaude {
public:
    ContainedClaude(const std::filesystem::path& scratch, const std::string& home)
        : program_(scratch / "claude"),
          child_({"/usr/bin/env", "HOME=" + home, "/usr/bin/unshare", "--mount", "--propagation",
                  "private", program_.string(), "-c", script(home)}) {}

    pid_t pid() const { return child_.pid(); }
    /// Waits until it runs in a mount namespace of its own.
    bool apart() const {
        const auto own = std::filesystem::read_symlink("/proc/self/ns/mnt");
        for (int wait = 0; wait < 400; ++wait) {
            std::error_code error;
            const auto theirs =
                std::filesystem::read_symlink("/proc/" + std::to_string(pid()) + "/ns/mnt", error);
            if (!error && theirs != own) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    /// Waits until the record is written.
    bool ready() const {
        const auto record = std::filesystem::path("/proc") / std::to_string(pid()) / "root" /
                            (recordFolder_ + "/" + std::to_string(pid()) + ".json").substr(1);
        for (int wait = 0; wait < 400; ++wait) {
            std::error_code error;
            if (std::filesystem::exists(std::filesystem::path(record.string() + ".done"), error)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    /// The row the process table gives it.
    ProcessSnapshot row() const {
        std::ifstream stat("/proc/" + std::to_string(pid()) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        std::uint64_t start = 0;
        for (int index = 3; index <= 22 && fields >> field; ++index) {
            if (index == 22) {
                start = std::stoull(field);
            }
        }
        ProcessSnapshot row(pid(), ::getpid(), 0, program_.string(), "claude", start);
        row.startedAt = realNow() - longRunning;
        return row;
    }

private:
    /// Mounts the private HOME, writes the record as Claude Code does (its own pid and start
    /// ticks) and waits. No word of it may read as a one-shot option.
    std::string script(const std::string& home) {
        recordFolder_ = home + "/.claude/sessions";
        return "mount -t tmpfs none '" + home + "' 2>/dev/null; mkdir '" + home + "/.claude' '" +
               recordFolder_ + "'; start=$(cut -d' ' -f22 /proc/$$/stat); echo " +
               R"("{\"pid\":$$,\"procStart\":$start,\"status\":\"busy\"}" > ')" + recordFolder_ +
               "'/$$.json; touch '" + recordFolder_ + "'/$$.json.done; while :; do sleep 1; done";
    }

    std::filesystem::path program_;
    std::string recordFolder_;
    stayloom::testing::ChildProcess child_;
};

} // namespace

// A devcontainer's or a `docker run`'s agent: in the host's process table, its files elsewhere.
TEST(StatusRecordDetector, AnAgentInAContainerIsReadThroughItsRootOrSaidToBeOutOfReach) {
    if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/unshare")) {
        GTEST_SKIP() << "needs unshare --mount";
    }
    TemporaryDirectory scratch;
    std::filesystem::create_symlink("/bin/sh", scratch.path() / "claude");
    std::filesystem::create_directory(scratch.path() / "home");
    TemporaryDirectory hostHome;
    const auto makeReaders = [](const std::filesystem::path& home) {
        return standardStatusReaders(home, std::make_shared<FileActivityProbe>(home, 8));
    };

    ContainedClaude contained(scratch.path(), (scratch.path() / "home").string());
    ASSERT_TRUE(contained.ready()) << "the contained agent did not start";
    ASSERT_TRUE(std::filesystem::is_empty(scratch.path() / "home"))
        << "its HOME is seen only inside its namespace";
    const std::vector<ProcessSnapshot> table = {contained.row()};

    StatusRecordDetector hostOnly(standardStatusReaders(
        hostHome.path(), std::make_shared<FileActivityProbe>(hostHome.path(), 8)));
    EXPECT_TRUE(hostOnly.detectVerdicts(GuardSettings::defaults(), table, realNow()).empty())
        << "where only this home is read, nothing speaks for it";

    StatusRecordDetector throughRoot(standardStatusReaders(hostHome.path(), nullptr), makeReaders,
                                     std::make_shared<AgentMountViews>());
    const auto verdicts = throughRoot.detectVerdicts(GuardSettings::defaults(), table, realNow());
    EXPECT_EQ(verdicts, (std::vector<AgentVerdict>{
                            {"Claude Code", State::working, AgentVerdictSource::statusRecord}}));
    EXPECT_TRUE(throughRoot.outOfReach().empty());

    // A HOME that is no folder there: its files cannot be found, only its CPU speaks.
    ContainedClaude lost(scratch.path(), "/nonexistent-home");
    ASSERT_TRUE(lost.apart());
    EXPECT_TRUE(
        throughRoot.detectVerdicts(GuardSettings::defaults(), {lost.row()}, realNow()).empty());
    EXPECT_EQ(throughRoot.outOfReach(), std::vector<std::string>{"Claude Code"});
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
            process.startedAt = realNow() - longRunning;
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
