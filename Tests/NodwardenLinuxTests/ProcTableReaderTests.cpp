#include <NodwardenLinux/ProcTableReader.hpp>

#include <NodwardenCore/detection/ProcessDetector.hpp>

#include <NodwardenCore/system/FileLogger.hpp>

#include "Support/ChildProcess.hpp"
#include "Support/LoggedMessages.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;
using stayloom::testing::loggedMessages;
using stayloom::testing::TemporaryDirectory;

namespace {

using Child = stayloom::testing::ChildProcess;

const ProcessSnapshot* find(const std::vector<ProcessSnapshot>& table, pid_t pid) {
    const auto it =
        std::find_if(table.begin(), table.end(), [&](const auto& row) { return row.pid == pid; });
    return it == table.end() ? nullptr : &*it;
}

} // namespace

TEST(ProcTableReader, ParsesStatWithSpacesAndParenthesesInComm) {
    const std::string line = "4242 (my ) (weird) name) S 17 4242 4242 0 -1 4194560 100 0 0 0 350 "
                             "150 0 0 20 0 3 0 987654 0 0";
    const auto stat = ProcTableReader::parseStat(line);
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(stat->pid, 4242);
    EXPECT_EQ(stat->comm, "my ) (weird) name");
    EXPECT_EQ(stat->parentPID, 17);
    EXPECT_EQ(stat->cpuTicks, 500u);
    EXPECT_EQ(stat->startTime, 987654u);

    EXPECT_FALSE(ProcTableReader::parseStat("").has_value());
    EXPECT_FALSE(ProcTableReader::parseStat("12 (short) S 1 2 3").has_value());
    EXPECT_FALSE(ProcTableReader::parseStat(
                     "12 no parentheses S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20")
                     .has_value());
}

TEST(ProcTableReader, CmdlineGivesArgvZeroAndSpaceJoinedArguments) {
    const std::string bytes("claude\0--resume\0abc def\0", 24);
    const auto [argv0, arguments] = ProcTableReader::parseCmdline(bytes);
    EXPECT_EQ(argv0, "claude");
    EXPECT_EQ(arguments, "claude --resume abc def");
}

TEST(ProcTableReader, FixtureTreeWithoutCmdlineFallsBackToComm) {
    TemporaryDirectory root;
    root.write("proc/77/stat",
               "77 (kworker/0:1) I 2 0 0 0 -1 69238880 0 0 0 0 0 0 0 0 20 0 1 0 55 0 0\n");
    root.write("proc/77/cmdline", "");
    root.write("proc/88/stat", "garbage\n"); // half-written or vanished: skipped
    root.write("proc/self/stat", "not a pid folder\n");
    ProcTableReader reader(root.path(), std::chrono::milliseconds(1));
    const auto table = reader.readProcessTable();
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].command, "kworker/0:1");
    EXPECT_EQ(table[0].arguments, "");
    EXPECT_EQ(table[0].parentPID, 2);
}

namespace {

/// A process in a fixture /proc tree, written with every field a kernel gives.
struct FakeProcess {
    int pid;
    int parent;
    std::string comm;
    std::vector<std::string> argv;
    unsigned long startTime;
    /// Where its argument vector lies; an exec lays out a new one.
    unsigned long argumentsAt = 0x7ffd1000;
    /// Its user time; its system time is 3 ticks.
    unsigned long cpuTicks = 7;
    /// The process whose thread it is; 0 for a process of its own.
    int tgid = 0;

    /// Writes its files; a new process (`asNewProcess`) gets a new folder, as procfs makes one
    /// for every process, even under a reused pid.
    void writeTo(const TemporaryDirectory& root, bool asNewProcess = false) const {
        if (asNewProcess) {
            FakeProcess copy = *this;
            copy.pid = -pid; // written as "proc/-PID", which no reader takes for a process
            copy.writeTo(root);
            std::filesystem::remove_all(root.path() / "proc" / std::to_string(pid));
            std::filesystem::rename(root.path() / "proc" / std::to_string(-pid),
                                    root.path() / "proc" / std::to_string(pid));
            writeTo(root); // its stat line names its own pid
            return;
        }
        const std::string folder = "proc/" + std::to_string(pid) + "/";
        std::string stat = std::to_string(pid) + " (" + comm + ") S " + std::to_string(parent) +
                           " 1 1 0 -1 4194560 100 0 0 0 " + std::to_string(cpuTicks) +
                           " 3 0 0 20 0 1 0 " + std::to_string(startTime) + " 1000 100";
        for (int field = 25; field < 48; ++field) {
            stat += " 0";
        }
        stat +=
            " " + std::to_string(argumentsAt) + " " + std::to_string(argumentsAt + 64) + " 0 0 0\n";
        root.write(folder + "stat", stat);
        std::string cmdline;
        for (const auto& argument : argv) {
            cmdline += argument;
            cmdline += '\0';
        }
        root.write(folder + "cmdline", cmdline);
        root.write(folder + "status", "Name:\t" + comm +
                                          "\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t" +
                                          std::to_string(tgid != 0 ? tgid : pid) + "\n");
    }
};

/// The rows without the CPU share, which depends on the time between readings.
std::vector<ProcessSnapshot> withoutCPU(std::vector<ProcessSnapshot> table) {
    for (auto& row : table) {
        row.cpuPercent = 0;
    }
    std::sort(table.begin(), table.end(),
              [](const auto& left, const auto& right) { return left.pid < right.pid; });
    return table;
}

} // namespace

TEST(ProcTableReader, ReadingsFollowProcessesThatComeGoExecAndAreReParented) {
    // Only what the listing shows changed is read again: a reused pid, a re-parented child, an
    // exec in an agent's tree or just after a fork must show at the next reading as a full read
    // shows it, and any other exec within a sweep.
    TemporaryDirectory root;
    root.write("proc/stat", "cpu  1 2 3\nbtime 1700000000\n");
    root.write("proc/uptime", "500.00 900.00\n");
    FakeProcess shell{10, 1, "bash", {"bash"}, 1000};
    FakeProcess sleeper{11, 10, "sleep", {"sleep", "60"}, 1100};
    FakeProcess launcher{12, 1, "sh", {"sh", "-c", "exec sh /opt/tool"}, 1200};
    FakeProcess forked{13, 12, "sh", {"sh", "-c", "exec sh /opt/tool"}, 1300};
    FakeProcess tool{14, 10, "make", {"make", "-j2"}, 1400};
    for (const auto* process : {&shell, &sleeper, &launcher, &tool}) {
        process->writeTo(root);
    }
    FakeProcess{1, 0, "systemd", {"/sbin/init"}, 1}.writeTo(root);
    ProcTableReader incremental(root.path(), std::chrono::milliseconds(0));
    const auto fullRead = [&] {
        return withoutCPU(
            ProcTableReader(root.path(), std::chrono::milliseconds(0)).readProcessTable());
    };
    const auto expectFullRead = [&](const char* step) {
        SCOPED_TRACE(step);
        auto table = withoutCPU(incremental.readProcessTable());
        EXPECT_EQ(table, fullRead());
        return table;
    };
    expectFullRead("first reading");
    expectFullRead("steady");

    // One starts (a fork of the launcher, not yet exec'd), one exits.
    forked.writeTo(root, true);
    std::filesystem::remove_all(root.path() / "proc/11");
    auto table = expectFullRead("start and exit");
    EXPECT_EQ(find(table, 11), nullptr);

    // The fork execs its program (same name, new argument vector); the shell, in an agent's
    // tree, execs another program (a new name).
    forked.argv = {"sh", "/opt/tool"};
    forked.argumentsAt += 4096;
    forked.writeTo(root);
    incremental.focusOn({10});
    shell.comm = "node";
    shell.argv = {"node", "/usr/lib/node_modules/@openai/codex/bin/codex.js"};
    shell.argumentsAt += 4096;
    shell.writeTo(root);
    table = expectFullRead("exec just after a fork and in the focus");
    ASSERT_NE(find(table, 13), nullptr);
    EXPECT_EQ(find(table, 13)->arguments, "sh /opt/tool");

    // A process outside the focus execs: seen within a sweep.
    incremental.focusOn({});
    launcher.comm = "claude";
    launcher.argv = {"claude"};
    launcher.writeTo(root);
    std::uint64_t readings = 0;
    for (; readings < ProcTableReader::sweepReadings; ++readings) {
        table = withoutCPU(incremental.readProcessTable());
        if (find(table, 12) != nullptr && find(table, 12)->arguments == "claude") {
            break;
        }
    }
    EXPECT_LT(readings, ProcTableReader::sweepReadings);
    EXPECT_EQ(table, fullRead()) << "after a sweep";

    // The shell ends: its child is handed to pid 1. Its pid comes back (in a new folder) as
    // another process with the same name and argument vector's place, and the sleeper's pid too.
    tool.parent = 1;
    tool.writeTo(root);
    FakeProcess reused{10, 1, "node", {"node", "/srv/other.js"}, 2000, shell.argumentsAt};
    reused.writeTo(root, true);
    FakeProcess{11, 14, "cc1", {"/usr/lib/gcc/cc1", "main.c"}, 2100}.writeTo(root, true);
    table = expectFullRead("re-parent and pid reuse");
    ASSERT_NE(find(table, 10), nullptr);
    EXPECT_EQ(find(table, 10)->arguments, "node /srv/other.js");
    EXPECT_EQ(find(table, 14)->parentPID, 1);
}

TEST(ProcTableReader, TheListingWaitsForMoreNewIdsThanAreLookedAtOneByOne) {
    // /proc/loadavg's last pid stands while no process or thread starts, and the listing of /proc
    // is then the last one; ids handed out to threads alone leave it too, and a process among a
    // few ids handed out joins it. A fixture can plant a process the kernel did not count, which
    // shows whether /proc was listed again.
    TemporaryDirectory root;
    root.write("proc/uptime", "500.00 900.00\n");
    root.write("proc/loadavg", "0.00 0.01 0.05 1/2 10\n");
    FakeProcess{1, 0, "systemd", {"/sbin/init"}, 1}.writeTo(root);
    FakeProcess{10, 1, "bash", {"bash"}, 1000}.writeTo(root);
    ProcTableReader reader(root.path(), std::chrono::milliseconds(0));
    EXPECT_EQ(reader.readProcessTable().size(), 2U);
    FakeProcess{20, 10, "claude", {"claude"}, 2000}.writeTo(root);
    EXPECT_EQ(reader.readProcessTable().size(), 2U)
        << "nothing handed out: the last listing stands";
    // Ids 11 to 14: threads of bash (one still runs, with a folder /proc answers for but does not
    // list) and ids already gone.
    FakeProcess{12, 1, "bash", {"bash"}, 1100, 0x7ffd1000, 7, 10}.writeTo(root);
    root.write("proc/loadavg", "0.00 0.01 0.05 1/2 14\n");
    const auto listings = reader.listingCount();
    EXPECT_EQ(reader.readProcessTable().size(), 2U) << "threads alone: the last listing stands";
    EXPECT_EQ(reader.listingCount(), listings);
    std::filesystem::remove_all(root.path() / "proc/12");
    root.write("proc/loadavg", "0.00 0.01 0.05 1/3 20\n");
    FakeProcess{5, 1, "cron", {"/usr/sbin/cron"}, 10}.writeTo(root);
    const auto table = reader.readProcessTable();
    ASSERT_EQ(table.size(), 3U) << "a process started: found by its id, without a listing";
    EXPECT_EQ(find(table, 20)->arguments, "claude");
    EXPECT_EQ(reader.listingCount(), listings);
    // An end hands out no id: a process in the focus is read at every reading and found gone.
    reader.focusOn({20});
    std::filesystem::remove_all(root.path() / "proc/20");
    EXPECT_EQ(reader.readProcessTable().size(), 2U) << "an end in the focus shows at once";
    EXPECT_EQ(reader.listingCount(), listings);
    // More ids than are looked at one by one: /proc is listed, and finds the planted one.
    root.write("proc/loadavg", "0.00 0.01 0.05 1/3 " +
                                   std::to_string(20 + ProcTableReader::maxIdsLookedAt + 1) + "\n");
    const auto listedAgain = reader.readProcessTable();
    EXPECT_EQ(reader.listingCount(), listings + 1);
    EXPECT_NE(find(listedAgain, 5), nullptr);
}

namespace {

/// The agent's CPU share the detector finds, as "strong" or "presence".
SignalStrength agentStrength(const std::vector<ActivitySignal>& signals) {
    for (const auto& signal : signals) {
        if (signal.appName == "Claude Code") {
            return signal.strength;
        }
    }
    return SignalStrength::none;
}

} // namespace

TEST(ProcTableReader, AnAgentsTreeIsMeasuredAtEveryReading) {
    // The detector tells the table which trees it adds up; a tool the agent runs starts working
    // long after it started, and the next pass must see it.
    TemporaryDirectory root;
    root.write("proc/uptime", "500.00 900.00\n");
    FakeProcess{1, 0, "systemd", {"/sbin/init"}, 1}.writeTo(root);
    FakeProcess{20, 1, "claude", {"claude"}, 1000}.writeTo(root);
    FakeProcess tool{21, 20, "node", {"node", "/opt/tool.js"}, 1100};
    tool.writeTo(root);
    ProcessDetector detector(
        std::make_shared<ProcTableReader>(root.path(), std::chrono::milliseconds(1)));
    const auto settings = GuardSettings::defaults();
    for (int pass = 0; pass < 3; ++pass) {
        ASSERT_EQ(agentStrength(detector.detectPerApp(settings, std::nullopt)),
                  SignalStrength::presence);
    }
    tool.cpuTicks = 100'000; // a thousand seconds more than at the last reading
    tool.writeTo(root);
    EXPECT_EQ(agentStrength(detector.detectPerApp(settings, std::nullopt)), SignalStrength::strong);
}

TEST(ProcTableReader, AReadingThatFindsNoProcessIsLoggedAsAFailure) {
    // A machine always runs at least the reader itself: nothing at all is a failed reading.
    struct Case {
        const char* name;
        const char* file;
        const char* contents;
        std::string logged;
    };
    const std::vector<Case> cases{
        {"no /proc", nullptr, nullptr, "cannot list "},
        {"/proc is no folder", "proc", "x", "cannot list "},
        {"nothing in /proc can be read", "proc/88/stat", "garbage\n", "no process in "},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TemporaryDirectory root;
        if (testCase.file != nullptr) {
            root.write(testCase.file, testCase.contents);
        }
        FileLogger logger(root.path() / "log" / "Nodwarden.log");
        ProcTableReader reader(root.path(), std::chrono::milliseconds(1), &logger);
        EXPECT_TRUE(reader.readProcessTable().empty());
        const auto messages = loggedMessages(logger);
        ASSERT_EQ(messages.size(), 1u) << "logged once per reading, not once per sample";
        EXPECT_EQ(messages[0].rfind("ProcessDetector failed: " + testCase.logged, 0), 0u)
            << messages[0];
    }
}

TEST(ProcTableReader, BusyLoopReadsFarAboveAnIdleSleeper) {
    Child busy({"/bin/sh", "-c", "while :; do :; done"});
    Child idle({"/bin/sleep", "30"});
    ASSERT_GT(busy.pid(), 0);
    ASSERT_GT(idle.pid(), 0);
    ProcTableReader reader("/", std::chrono::milliseconds(300));
    auto table = reader.readProcessTable(); // first reading samples twice
    ::usleep(400'000);
    table = reader.readProcessTable(); // a later reading measures since the previous one
    const auto* busyRow = find(table, busy.pid());
    const auto* idleRow = find(table, idle.pid());
    ASSERT_NE(busyRow, nullptr);
    ASSERT_NE(idleRow, nullptr);
    // The machine may be shared with other busy work, so ask only for a clear difference: a
    // lifetime average would show the sleeper's start-up and never this gap.
    EXPECT_GT(busyRow->cpuPercent, 5.0);
    EXPECT_LT(idleRow->cpuPercent, 1.0);
    EXPECT_LE(busyRow->cpuPercent, 100.0 * std::thread::hardware_concurrency() + 5.0);
    EXPECT_EQ(idleRow->parentPID, ::getpid());
    EXPECT_EQ(idleRow->command, "/bin/sleep");
}

TEST(ProcTableReader, LongArgumentLineReadsBackWhole) {
    std::string longArgument(20000, 'x');
    Child child({"/bin/sh", "-c", "sleep 30; :", "sh", longArgument});
    ASSERT_GT(child.pid(), 0);
    ::usleep(100'000);
    ProcTableReader reader("/", std::chrono::milliseconds(1));
    const auto table = reader.readProcessTable();
    const auto* row = find(table, child.pid());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->command, "/bin/sh");
    EXPECT_EQ(row->arguments, "/bin/sh -c sleep 30; : sh " + longArgument);
}

namespace {

const ActivitySignal* signalFor(const std::vector<ActivitySignal>& signals,
                                const std::string& name) {
    const auto it = std::find_if(signals.begin(), signals.end(),
                                 [&](const auto& signal) { return signal.appName == name; });
    return it == signals.end() ? nullptr : &*it;
}

} // namespace

TEST(ProcTableReader, AgentsStartedThroughLinksAndShebangsResolveThroughTheDetector) {
    TemporaryDirectory folder;
    // An installer's link named after the agent, pointing at the real executable.
    std::filesystem::create_directories(folder.path() / "bin");
    std::filesystem::create_symlink("/bin/sleep", folder.path() / "bin/claude");
    // A script agent whose launcher relaunches itself with extra interpreter flags, as node-based
    // agents do; launcher and child are one session.
    const auto script =
        folder.write("lib/gemini",
                     "#!/usr/bin/python3\n"
                     "import os, subprocess, sys, time\n"
                     "if len(sys.argv) == 1:\n"
                     "    subprocess.Popen(['/usr/bin/python3', '-X', 'utf8', __file__, 'child'])\n"
                     "time.sleep(30)\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);

    Child claude({(folder.path() / "bin/claude").string(), "30"});
    Child gemini({script.string()});
    ASSERT_GT(claude.pid(), 0);
    ASSERT_GT(gemini.pid(), 0);
    ::usleep(600'000); // let the launcher start its child

    // Only this test's children and theirs: real agents may run on the machine beside it.
    const ProcessDetector detector(std::shared_ptr<ProcessTableReading>{});
    std::vector<ProcessSnapshot> own;
    std::set<int> ownPIDs = {claude.pid(), gemini.pid()};
    for (const auto& row : ProcTableReader("/", std::chrono::milliseconds(50)).readProcessTable()) {
        if (ownPIDs.contains(row.pid) || ownPIDs.contains(row.parentPID)) {
            ownPIDs.insert(row.pid);
            own.push_back(row);
        }
    }
    const auto signals = detector.detectPerApp(own, GuardSettings::defaults(), std::nullopt);
    const auto* claudeSignal = signalFor(signals, "Claude Code");
    const auto* geminiSignal = signalFor(signals, "Gemini CLI");
    ASSERT_NE(claudeSignal, nullptr);
    ASSERT_NE(geminiSignal, nullptr);
    EXPECT_EQ(claudeSignal->strength, SignalStrength::presence)
        << "sleeping agents are present, not working";
    EXPECT_EQ(geminiSignal->sessionCount, std::optional<int>(1))
        << "the relaunched child is the same session";

    // A Codex that exited and was never reaped is a zombie named like the agent: no agent.
    std::filesystem::create_symlink("/bin/true", folder.path() / "bin/codex");
    const pid_t zombie = ::fork();
    if (zombie == 0) {
        ::execl((folder.path() / "bin/codex").c_str(), "codex", nullptr);
        ::_exit(127);
    }
    std::string state;
    for (int wait = 0; wait < 200 && state.find(") Z ") == std::string::npos; ++wait) {
        ::usleep(10'000);
        state = stayloom::testing::readFile("/proc/" + std::to_string(zombie) + "/stat");
    }
    ASSERT_NE(state.find("(codex) Z "), std::string::npos) << state;
    const auto table = ProcTableReader("/", std::chrono::milliseconds(0)).readProcessTable();
    EXPECT_EQ(find(table, zombie), nullptr);
    EXPECT_EQ(
        signalFor(detector.detectPerApp(GuardSettings::defaults(), std::nullopt), "Codex CLI"),
        nullptr);
    ::waitpid(zombie, nullptr, 0);
}
