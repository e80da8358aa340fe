// One whole detection pass on Linux over a realistic machine: the process table read from /proc,
// the agents' session files in the home folder, the definite witnesses (the agents' own status
// records; tmux panes, on a machine without tmux), no accessibility bus. The program's prober
// keeps what it walked and watches it with inotify, so steady passes stat only what changed; the
// plain walk is what the first pass (and a home that cannot be watched) costs.
#include "Support/TemporaryDirectory.hpp"

#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/ActivityDetector.hpp>
#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/SessionActivityDetector.hpp>
#include <NodwardenCore/hooks/HookWitness.hpp>
#include <NodwardenCore/statusrecords/AgentStatusReaders.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenLinux/InotifyFileActivityProbe.hpp>
#include <NodwardenLinux/LogindInhibitorWitness.hpp>
#include <NodwardenLinux/ProcTableReader.hpp>
#include <NodwardenLinux/TmuxScreenVerdicts.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace nodwarden;
using stayloom::testing::TemporaryDirectory;

constexpr int processCount = 400;
/// A busy workstation or build host: the table's cost must not grow with processes that idle.
constexpr int manyProcessCount = 2'000;
constexpr int agentTrees = 10;
constexpr int sessionFiles = 20'000;
/// Seconds since the fake machine booted; its processes started 50 s after the boot.
constexpr long uptimeSeconds = 3600;

/// The process id FakeProc gives the agent of tree `tree`.
constexpr int agentPID(int tree) {
    return 5 + 6 * tree;
}

/// `prefix` followed by `number` (and `suffix`), built by appending: GCC 12 warns falsely on
/// the plain concatenation at -O3.
std::string numbered(const char* prefix, long number, const char* suffix = "") {
    std::string text = prefix;
    text += std::to_string(number);
    text += suffix;
    return text;
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

/// A /proc tree of a developer's machine: system services, a desktop session with a browser
/// and an editor, and ten agent trees (shell, agent, its tool servers) started in the usual
/// ways (by name, through node, from a versioned install folder).
class FakeProc {
public:
    explicit FakeProc(int processes) {
        const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        writeFile(folder_.path() / "proc" / "stat",
                  "cpu  1 2 3 4 5 6 7 0 0 0\n" + numbered("btime ", now - uptimeSeconds, "\n"));
        add(1, 0, "systemd", {"/sbin/init", "splash"});
        int nextPID = 2;
        const int terminal = nextPID++;
        add(terminal, 1, "gnome-terminal-", {"/usr/libexec/gnome-terminal-server"});
        const int editor = nextPID++;
        add(editor, 1, "code", {"/usr/share/code/code", "--unity-launch"});

        struct Agent {
            const char* comm;
            std::vector<std::string> argv;
        };
        const std::vector<Agent> agents = {
            {"claude", {"claude", "--resume"}},
            {"node", {"node", "/usr/lib/node_modules/@openai/codex/bin/codex.js", "exec"}},
            {"gemini", {"/home/me/.local/bin/gemini"}},
            {"2.0.14", {"/home/me/.local/share/claude/versions/2.0.14"}},
            {"aider", {"/usr/bin/python3", "/home/me/.local/bin/aider", "--model", "sonnet"}},
            {"opencode", {"/home/me/.opencode/bin/opencode"}},
            {"copilot", {"node", "/usr/lib/node_modules/@github/copilot/index.js"}},
            {"qwen", {"qwen"}},
            {"grok", {"/home/me/.local/bin/grok"}},
            {"codex", {"/home/me/.local/bin/codex", "resume"}},
        };
        for (int tree = 0; tree < agentTrees; ++tree) {
            const int shell = nextPID++;
            add(shell, tree % 3 == 2 ? editor : terminal, "bash", {"bash"});
            const int agent = nextPID++;
            if (agent != agentPID(tree)) {
                throw std::logic_error("agentPID() no longer matches the tree layout");
            }
            add(agent, shell, agents[tree].comm, agents[tree].argv, 4000 + tree * 50);
            for (int child = 0; child < 4; ++child) {
                add(nextPID++, agent, "node",
                    {"node",
                     numbered("/home/me/.npm/_npx/5f2c/node_modules/.bin/mcp-server-", child),
                     "--stdio"});
            }
        }
        for (int helper = 0; nextPID <= processes; ++helper) {
            if (helper % 4 == 0) {
                add(nextPID++, editor, "code",
                    {"/usr/share/code/code", "--type=renderer",
                     numbered("--renderer-client-id=", helper)});
            } else if (helper % 4 == 1) {
                add(nextPID++, 1, "firefox-bin",
                    {"/usr/lib/firefox/firefox-bin", "-contentproc", numbered("-childID ", helper),
                     "tab"});
            } else {
                const auto name = numbered("kworker/", helper);
                add(nextPID++, 2, name, {}); // kernel threads have an empty cmdline
            }
        }
    }

    const fs::path& root() const { return folder_.path(); }

    /// The start time of `pid` in clock ticks since boot, as its stat line gives it.
    static long startTicks(int pid) { return 5000 + pid; }

private:
    void add(int pid, int parent, const std::string& comm, const std::vector<std::string>& argv,
             long ticks = 10) {
        const auto folder = folder_.path() / "proc" / std::to_string(pid);
        std::string stat = std::to_string(pid) + " (" + comm + ") S " + std::to_string(parent);
        stat += " 1 1 0 -1 4194560 1200 0 0 0 ";
        stat += std::to_string(ticks) + " " + std::to_string(ticks / 3);
        stat += " 0 0 20 0 8 0 " + std::to_string(startTicks(pid)) + " 123456789 4096 0 0 0 0\n";
        writeFile(folder / "stat", stat);
        std::string cmdline;
        for (const auto& argument : argv) {
            cmdline += argument;
            cmdline += '\0';
        }
        writeFile(folder / "cmdline", cmdline);
    }

    TemporaryDirectory folder_;
};

/// A home folder with 20,000 session files in the places the catalog's agents write them, written
/// over the last 90 days.
class FakeHome {
public:
    FakeHome() {
        const auto& home = folder_.path();
        int written = 0;
        // Transcripts pile up over months; only the few of sessions running now are recent.
        const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        auto session = [&](const fs::path& path) {
            writeFile(path, "{}\n");
            if (written % 2'000 != 0) {
                const std::time_t age = 600 + (written * 397L * 60) % (90L * 24 * 3600);
                const timespec times[2] = {{now - age, 0}, {now - age, 0}};
                ::utimensat(AT_FDCWD, path.c_str(), times, 0);
            }
            ++written;
        };
        for (int project = 0; project < 120; ++project) {
            const auto folder = home / ".claude" / "projects" / numbered("-home-me-src-p", project);
            for (int index = 0; index < 100; ++index) {
                session(folder / numbered("session-", index, ".jsonl"));
            }
            writeFile(folder / "notes" / "todo.md", "x");
        }
        for (int day = 0; day < 60; ++day) {
            const auto folder = home / ".codex" / "sessions" / "2026" / numbered("", 1 + day / 28) /
                                numbered("", 1 + day % 28);
            for (int index = 0; index < 100; ++index) {
                session(folder / numbered("rollout-2026-", index, ".jsonl"));
            }
        }
        for (int index = 0; index < 1'500; ++index) {
            session(home / ".pi" / "agent" / "sessions" / numbered("--home-me-", index % 30) /
                    numbered("s", index, ".jsonl"));
        }
        for (int index = 0; written < sessionFiles - 1; ++index) {
            session(home / ".grok" / "sessions" / numbered("g", index) / "updates.jsonl");
        }
        session(home / ".local" / "share" / "opencode" / "opencode.db-wal");
        writeStatusRecords(home);
        writeFile(home / ".codex" / "log" / "codex-tui.log", "x");
        for (int index = 0; index < 50; ++index) {
            fs::create_directories(home / ".cache" / numbered("c", index));
        }
    }

    const fs::path& root() const { return folder_.path(); }

private:
    /// What today's agents write about their own state while they run (trees as in FakeProc):
    /// Claude Code's session files (one busy, one idle), Copilot's open sessions (one current, one
    /// left working by a closed terminal), a long Codex rollout in a turn, and Gemini's and Qwen's
    /// chats. Written last, so they are the newest transcripts.
    static void writeStatusRecords(const fs::path& home) {
        const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        auto claude = [&](int tree, const char* status) {
            const int pid = agentPID(tree);
            std::string record = numbered(R"({"pid":)", pid);
            record += numbered(R"(,"procStart":")", FakeProc::startTicks(pid), "\"");
            record += numbered(R"(,"sessionId":"5b1e)", pid, R"(","cwd":"/home/me/src")");
            record += numbered(",\"startedAt\":", nowMs - 600'000);
            record += numbered(",\"updatedAt\":", nowMs);
            record += numbered(",\"statusUpdatedAt\":", nowMs);
            record += R"(,"kind":"interactive","status":")";
            record += status;
            record += "\"}";
            writeFile(home / ".claude" / "sessions" / numbered("", pid, ".json"), record);
        };
        claude(0, "busy");
        claude(3, "idle");
        writeFile(home / ".copilot" / "open-sessions-state.json",
                  numbered(R"({"0f3a":{"schemaVersion":1,"openedAt":)", nowMs - 300'000) +
                      numbered(",\"refreshedAt\":", nowMs, ",\"working\":false},") +
                      numbered(R"("91c2":{"schemaVersion":1,"openedAt":)", nowMs - 86'400'000) +
                      numbered(",\"refreshedAt\":", nowMs - 86'000'000, ",\"working\":true}}"));
        // A rollout of a long session: many replies, then a turn that has started.
        std::string rollout = "{\"timestamp\":\"2026-12-08T10:00:00.000Z\",\"type\":"
                              "\"session_meta\",\"payload\":{\"id\":\"t1\"}}\n";
        const std::string reply = "{\"timestamp\":\"2026-12-08T10:00:01.000Z\",\"type\":"
                                  "\"response_item\",\"payload\":{\"type\":\"message\","
                                  "\"role\":\"assistant\",\"content\":[{\"type\":"
                                  "\"output_text\",\"text\":\"" +
                                  std::string(400, 'x') + "\"}]}}\n";
        for (int index = 0; index < 2'000; ++index) {
            rollout += reply;
        }
        rollout += "{\"timestamp\":\"2026-12-08T10:30:00.000Z\",\"type\":\"event_msg\","
                   "\"payload\":{\"type\":\"task_started\"}}\n";
        writeFile(home / ".codex" / "sessions" / "2026" / "12" / "08" /
                      "rollout-2026-12-08T10-00-00-t1.jsonl",
                  rollout);
        writeFile(home / ".gemini" / "tmp" / "9e3f" / "chats" / "session-2026-12-08T10-00-a1.jsonl",
                  "{\"sessionId\":\"a1\",\"projectHash\":\"9e3f\",\"startTime\":"
                  "\"2026-12-08T10:00:00.000Z\",\"lastUpdated\":\"2026-12-08T10:05:00.000Z\","
                  "\"kind\":\"main\"}\n{\"id\":\"m1\",\"timestamp\":"
                  "\"2026-12-08T10:05:00.000Z\",\"type\":\"user\",\"content\":\"go\"}\n");
        writeFile(home / ".qwen" / "projects" / "-home-me-src-p1" / "chats" / "q1.jsonl",
                  "{\"uuid\":\"u1\",\"parentUuid\":null,\"sessionId\":\"q1\",\"timestamp\":"
                  "\"2026-12-08T10:05:00.000Z\",\"type\":\"user\"}\n{\"uuid\":\"u2\","
                  "\"parentUuid\":\"u1\",\"sessionId\":\"q1\",\"timestamp\":"
                  "\"2026-12-08T10:06:00.000Z\",\"type\":\"assistant\"}\n");
    }

    TemporaryDirectory folder_;
};

/// A desktop without an accessibility service this process may use.
class NoAccessibility final : public AccessibilityPlatform {
public:
    std::vector<RunningApplication> runningApplications() override { return {}; }
    std::optional<AccessibilityValue> copyAttribute(const AccessibilityElement&,
                                                    std::string_view) override {
        return std::nullopt;
    }
    bool isProcessTrusted() override { return false; }
    void promptForTrust() override {}
};

/// Runs commands for real and counts them: a pass over a machine without tmux must run none.
class CountingRunner final : public CommandRunning {
public:
    CommandResult run(const ShellCommand& command) override {
        ++count;
        return real.run(command);
    }
    ProcessCommandRunner real{1};
    int count = 0;
};

Date dateNow() {
    const auto unix =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch());
    return dateFromUnixTime(unix.count());
}

/// The machine is built once for every benchmark of the program.
struct Machine {
    FakeProc proc{processCount};
    FakeHome home;
};

const Machine& machine() {
    static const Machine instance;
    return instance;
}

/// The same machine's /proc with five times the processes, made only when asked for.
const FakeProc& manyProcesses() {
    static const FakeProc instance(manyProcessCount);
    return instance;
}

/// A /proc of `count` processes whose kernel files say that nothing started since the last
/// reading, as on a machine where thousands of processes idle: made only when asked for.
const FakeProc& steadyProcesses(int count) {
    static std::map<int, std::unique_ptr<FakeProc>> made;
    auto& proc = made[count];
    if (!proc) {
        proc = std::make_unique<FakeProc>(count);
        writeFile(proc->root() / "proc" / "loadavg",
                  numbered("0.20 0.31 0.40 1/", count + 400) + numbered(" ", count, "\n"));
    }
    return *proc;
}

GuardSettings settingsWithoutScreenText() {
    return GuardSettings{.accessibilityDetectionEnabled = false};
}

constexpr int probeDepth = 8;

/// The prober the program uses on Linux.
std::shared_ptr<const FileActivityProbing> watchingProbe() {
    return std::make_shared<linuxplatform::InotifyFileActivityProbe>(machine().home.root(),
                                                                     probeDepth);
}

/// The portable prober, which walks the home on every question.
std::shared_ptr<const FileActivityProbing> walkingProbe() {
    return std::make_shared<FileActivityProbe>(machine().home.root(), probeDepth);
}

/// A whole pass; a session file is written between passes, as a working agent does.
void detectionPass(benchmark::State& state, const std::shared_ptr<const FileActivityProbing>& probe,
                   const FakeProc& proc = machine().proc) {
    auto table =
        std::make_shared<linuxplatform::ProcTableReader>(proc.root(), std::chrono::milliseconds(0));
    ProcessDetector processDetector(table);
    NoAccessibility platform;
    AccessibilityDetector accessibilityDetector(platform);
    SessionActivityDetector sessionDetector(probe);
    StatusRecordDetector records(standardStatusReaders(machine().home.root(), probe));
    CountingRunner runner;
    linuxplatform::TmuxScreenVerdicts panes(linuxplatform::TmuxPaneReader(
        runner, "/usr/bin/tmux", machine().home.root() / "tmux-sockets"));
    ActivityDetector detector(processDetector, accessibilityDetector, sessionDetector,
                              {&records, &panes});
    // Panes are on-screen text: the switch is on for them, while the accessibility bus is
    // unavailable, as on a machine without a desktop.
    auto settings = GuardSettings::defaults();
    const PowerSnapshot power{true, 100, "AC"};
    // The reader's first pass takes two samples; the passes measured are the steady ones.
    (void)table->readProcessTable();
    (void)detector.detectPerApp(settings, power, dateNow());
    const auto working =
        machine().home.root() / ".claude" / "projects" / "-home-me-src-p7" / "session-3.jsonl";

    std::size_t agents = 0;
    std::size_t recordVerdicts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(working, std::ios::app) << "{\"type\":\"assistant\"}\n";
        state.ResumeTiming();
        const auto signals = detector.detectPerApp(settings, power, dateNow());
        agents = signals.size();
        recordVerdicts = static_cast<std::size_t>(
            std::count_if(signals.begin(), signals.end(), [](const ActivitySignal& signal) {
                // A record's turn whose agent has children reads as a command its tool runs.
                return signal.reason.find(" reports it is ") != std::string::npos ||
                       signal.reason.find(" runs a command through its tool") != std::string::npos;
            }));
        benchmark::DoNotOptimize(signals);
    }
    // Ten trees, of which seven distinct agents are recognised by name (two trees each of Claude
    // Code and Codex CLI); Codex's rollouts are its own, never a ChatGPT session.
    if (agents < 7) {
        state.SkipWithError("too few agents found");
    }
    if (runner.count != 0) {
        state.SkipWithError("a pass without tmux ran a command");
    }
    if (recordVerdicts == 0) {
        state.SkipWithError("no status record spoke");
    }
    state.counters["agents"] = static_cast<double>(agents);
    state.counters["records"] = static_cast<double>(recordVerdicts);
}

void BM_DetectionPass(benchmark::State& state) {
    detectionPass(state, watchingProbe());
}
BENCHMARK(BM_DetectionPass)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_DetectionPass2000Processes(benchmark::State& state) {
    detectionPass(state, watchingProbe(), manyProcesses());
}
BENCHMARK(BM_DetectionPass2000Processes)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

/// Thousands of idle processes on a steady machine: what is left is the table's own upkeep.
void BM_DetectionPass5000Processes(benchmark::State& state) {
    detectionPass(state, watchingProbe(), steadyProcesses(5'000));
}
BENCHMARK(BM_DetectionPass5000Processes)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_DetectionPass20000Processes(benchmark::State& state) {
    detectionPass(state, watchingProbe(), steadyProcesses(20'000));
}
BENCHMARK(BM_DetectionPass20000Processes)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_DetectionPassWalkingTheHome(benchmark::State& state) {
    detectionPass(state, walkingProbe());
}
BENCHMARK(BM_DetectionPassWalkingTheHome)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

/// The tmux witness where it has work: a private server with one pane that runs a program named
/// like an agent. Each pass lists the panes and reads that one: two short child commands.
void BM_TmuxWitnessWithAnAgentPane(benchmark::State& state) {
    const TemporaryDirectory folder;
    const auto sockets = folder.path() / "sockets";
    fs::create_directories(sockets);
    fs::permissions(sockets, fs::perms::owner_all, fs::perm_options::replace);
    const auto agent = folder.path() / "claude";
    fs::create_symlink("/bin/sleep", agent);
    const auto socket = (sockets / "bench").string();
    ProcessCommandRunner starter(10);
    try {
        starter.run(ShellCommand{
            "/usr/bin/tmux",
            {"-S", socket, "-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "30",
             "printf 'Reading files (esc to interrupt)\\n'; exec " + agent.string() + " 600"}});
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    CountingRunner runner;
    linuxplatform::TmuxScreenVerdicts panes(
        linuxplatform::TmuxPaneReader(runner, "/usr/bin/tmux", sockets));
    linuxplatform::ProcTableReader table("/", std::chrono::milliseconds(0));
    auto settings = GuardSettings::defaults();
    std::vector<AgentVerdict> verdicts;
    for (int attempt = 0; attempt < 50 && verdicts.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        verdicts = panes.detectVerdicts(settings, table.readProcessTable(), dateNow());
    }
    const auto processes = table.readProcessTable();
    runner.count = 0;
    for (auto _ : state) {
        verdicts = panes.detectVerdicts(settings, processes, dateNow());
        benchmark::DoNotOptimize(verdicts);
    }
    try {
        starter.run(ShellCommand{"/usr/bin/tmux", {"-S", socket, "kill-server"}});
    } catch (const std::exception&) {
    }
    if (verdicts.empty() || verdicts.front().state != AgentWorkState::working) {
        state.SkipWithError("the pane's agent was not seen working");
    }
    state.counters["commands"] =
        benchmark::Counter(runner.count, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_TmuxWitnessWithAnAgentPane)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The agents' own word alone: the status-record readers over one process table, their
/// transcripts found through the watching prober, as in the program's steady passes.
void BM_StatusRecordPart(benchmark::State& state) {
    linuxplatform::ProcTableReader table(machine().proc.root(), std::chrono::milliseconds(0));
    const auto processes = table.readProcessTable();
    const auto probe = watchingProbe();
    StatusRecordDetector records(standardStatusReaders(machine().home.root(), probe));
    const auto settings = GuardSettings::defaults();
    std::size_t verdicts = records.detectVerdicts(settings, processes, dateNow()).size();
    for (auto _ : state) {
        verdicts = records.detectVerdicts(settings, processes, dateNow()).size();
    }
    state.counters["verdicts"] = static_cast<double>(verdicts);
}
BENCHMARK(BM_StatusRecordPart)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

/// The process half of a pass: reading the /proc tree and attributing it.
void BM_ProcessTablePart(benchmark::State& state) {
    auto table = std::make_shared<linuxplatform::ProcTableReader>(machine().proc.root(),
                                                                  std::chrono::milliseconds(0));
    const ProcessDetector processDetector(table);
    const auto settings = settingsWithoutScreenText();
    (void)table->readProcessTable();
    for (auto _ : state) {
        benchmark::DoNotOptimize(processDetector.detectPerApp(settings, std::nullopt));
    }
}
BENCHMARK(BM_ProcessTablePart)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

/// This machine's own /proc, read as the program reads it every pass (start idle processes
/// beforehand to see how the reading grows with them).
void BM_ProcessTableOfThisMachine(benchmark::State& state) {
    linuxplatform::ProcTableReader table("/", std::chrono::milliseconds(0));
    std::size_t rows = table.readProcessTable().size();
    for (auto _ : state) {
        rows = table.readProcessTable().size();
    }
    state.counters["processes"] = static_cast<double>(rows);
}
BENCHMARK(BM_ProcessTableOfThisMachine)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

/// The session-file half of a pass: fresh files per agent and live session counts, walked.
void BM_SessionFilePart(benchmark::State& state) {
    const SessionActivityDetector sessionDetector(walkingProbe());
    const auto settings = settingsWithoutScreenText();
    for (auto _ : state) {
        const auto now = dateNow();
        benchmark::DoNotOptimize(sessionDetector.detectPerApp(settings, now));
        benchmark::DoNotOptimize(sessionDetector.sessionCountsPerApp(settings, now));
    }
}
BENCHMARK(BM_SessionFilePart)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

/// A whole pass over this machine's own /proc, with an empty home and every witness the program
/// asks (records, logind's locks, hooks, no tmux): what a pass costs the program here (start idle
/// processes beforehand to see how it grows with them).
void BM_DetectionPassOfThisMachine(benchmark::State& state) {
    const TemporaryDirectory home;
    const auto probe =
        std::make_shared<linuxplatform::InotifyFileActivityProbe>(home.path(), probeDepth);
    auto table =
        std::make_shared<linuxplatform::ProcTableReader>("/", std::chrono::milliseconds(0));
    ProcessDetector processDetector(table);
    NoAccessibility platform;
    AccessibilityDetector accessibilityDetector(platform);
    SessionActivityDetector sessionDetector(probe);
    StatusRecordDetector records(standardStatusReaders(home.path(), probe));
    linuxplatform::LogindInhibitorWitness locks(
        [] { return std::optional<std::vector<linuxplatform::InhibitorLock>>(std::in_place); },
        static_cast<std::int32_t>(::getpid()), ::getuid());
    HookWitness hooks;
    ActivityDetector detector(processDetector, accessibilityDetector, sessionDetector,
                              {&records, &locks, &hooks});
    const auto settings = GuardSettings::defaults();
    const PowerSnapshot power{true, 100, "AC"};
    (void)detector.detectPerApp(settings, power, dateNow());
    std::size_t rows = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.detectPerApp(settings, power, dateNow()));
    }
    rows = table->readProcessTable().size();
    state.counters["processes"] = static_cast<double>(rows);
}
BENCHMARK(BM_DetectionPassOfThisMachine)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace
