#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/ProcessResolutions.hpp>
#include <NodwardenCore/macos/PSProcessTableReader.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include "Support/ScriptedCommandRunner.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace nodwarden;
using stayloom::testing::fixturePath;
using stayloom::testing::readFile;
using stayloom::testing::ScriptedCommandRunner;
using stayloom::testing::TemporaryDirectory;

namespace {

GuardSettings settingsWith(double threshold, std::vector<std::string> targets = {},
                           std::vector<std::string> disabled = {}) {
    auto settings = GuardSettings::defaults();
    settings.setCpuThresholdPercent(threshold);
    settings.targetApps = std::move(targets);
    settings.disabledAgentIDs = std::move(disabled);
    return settings;
}

const ActivitySignal* signalNamed(const std::vector<ActivitySignal>& signals,
                                  const std::string& name) {
    for (const auto& signal : signals) {
        if (signal.appName == name) {
            return &signal;
        }
    }
    return nullptr;
}

std::vector<std::string> namesOf(const std::vector<ActivitySignal>& signals) {
    std::vector<std::string> names;
    for (const auto& signal : signals) {
        names.push_back(signal.appName.value_or("(none)"));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// MARK: - Parsing

/// Reads well-formed listing lines the plain way, as an independent check of the parser.
std::vector<ProcessSnapshot> readWithStreams(const std::string& text) {
    std::vector<ProcessSnapshot> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        ProcessSnapshot row;
        fields >> row.pid >> row.parentPID >> row.cpuPercent;
        fields.get(); // the one space before the command
        std::getline(fields, row.command);
        rows.push_back(row);
    }
    return rows;
}

TEST(ProcessDetectorParsing, CapturedListingsParseLineForLine) {
    for (const std::string platform : {"linux", "macos"}) {
        SCOPED_TRACE(platform);
        const auto text = readFile(fixturePath("ps/" + platform + "-ps-comm.txt"));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(ProcessDetector::parsePSOutput(text), readWithStreams(text));
    }
    const auto args = ProcessDetector::parsePSArgs(readFile(fixturePath("ps/linux-ps-args.txt")));
    EXPECT_EQ(args.at(4), "/usr/bin/node /tmp/pscap/bin/codex exec fix the tests");
    EXPECT_EQ(args.at(2), "./Foo Bar.app/Contents/MacOS/Foo Bar 600");
}

TEST(ProcessDetectorParsing, MalformedProcessLinesAreSkippedOneByOne) {
    struct Case {
        std::string line;
        std::optional<ProcessSnapshot> expected;
    };
    const std::vector<Case> cases = {
        {"  123     1   0.5 /Applications/Foo Bar.app/Contents/MacOS/Foo Bar",
         ProcessSnapshot{123, 1, 0.5, "/Applications/Foo Bar.app/Contents/MacOS/Foo Bar", ""}},
        {"\t 7 1 12 claude\t", ProcessSnapshot{7, 1, 12, "claude", ""}},
        {"+7 1 1e1 x", ProcessSnapshot{7, 1, 10, "x", ""}},
        {"-5 1 0.0 x", ProcessSnapshot{-5, 1, 0, "x", ""}},
        {"2147483647 1 .5 x", ProcessSnapshot{2147483647, 1, 0.5, "x", ""}},
        {"1 0 0,0 /sbin/launchd", std::nullopt},
        {"2147483648 1 0.0 x", std::nullopt},
        {"12a 1 0.0 x", std::nullopt},
        {"7 0x1 0.0 x", std::nullopt},
        {"7 1 abc x", std::nullopt},
        {"7 1 0.5", std::nullopt},
        {"7\t1 0.5 x", std::nullopt},
        {"PID PPID %CPU COMM", std::nullopt},
        {" \t ", std::nullopt},
    };
    std::string listing;
    std::vector<ProcessSnapshot> expectedRows;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.line);
        const auto rows = ProcessDetector::parsePSOutput(testCase.line);
        if (testCase.expected) {
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0], *testCase.expected);
            expectedRows.push_back(*testCase.expected);
        } else {
            EXPECT_TRUE(rows.empty());
        }
        listing += testCase.line + "\n\n";
    }
    // All together: bad lines never stop the good ones, and order is kept.
    EXPECT_EQ(ProcessDetector::parsePSOutput(listing), expectedRows);
}

TEST(ProcessDetectorParsing, ArgumentLinesMapIdsToTrimmedArguments) {
    const auto args = ProcessDetector::parsePSArgs("4242\n"
                                                   "  77 node /x/codex  \n"
                                                   "88  spaced   args \t\n"
                                                   "x9 foo\n"
                                                   "90\tnode tabbed\n"
                                                   "\n"
                                                   "77 node /y/claude\n"
                                                   "91   \n");
    const std::map<std::int32_t, std::string> expected = {{77, "node /y/claude"},
                                                          {88, "spaced   args"}};
    EXPECT_EQ(args, expected);
    EXPECT_EQ(ProcessDetector::parsePSArgs("  77 node /x/codex  ").at(77), "node /x/codex");
}

// MARK: - Reading the table through ps

class PSReader : public ::testing::Test {
protected:
    std::string logText() {
        logger.flush();
        return readFile(logFile.path() / "Nodwarden.log");
    }
    TemporaryDirectory logFile;
    FileLogger logger{logFile.path() / "Nodwarden.log"};
    ScriptedCommandRunner runner;
    PSProcessTableReader reader{runner, logger};
};

TEST_F(PSReader, JoinsArgumentsByIdAndRunsTheTwoListings) {
    runner.enqueue(PSProcessTableReader::processListing(),
                   {0, readFile(fixturePath("ps/macos-ps-comm.txt")), ""});
    runner.enqueue(PSProcessTableReader::argumentListing(),
                   {0, readFile(fixturePath("ps/macos-ps-args.txt")), ""});
    const auto rows = reader.readProcessTable();

    EXPECT_EQ(runner.commands(),
              (std::vector<ShellCommand>{{"/bin/ps", {"-axo", "pid=,ppid=,pcpu=,comm="}},
                                         {"/bin/ps", {"-axo", "pid=,args="}}}));
    const auto arguments =
        ProcessDetector::parsePSArgs(readFile(fixturePath("ps/macos-ps-args.txt")));
    ASSERT_EQ(rows.size(),
              ProcessDetector::parsePSOutput(readFile(fixturePath("ps/macos-ps-comm.txt"))).size());
    for (const auto& row : rows) {
        const auto found = arguments.find(row.pid);
        EXPECT_EQ(row.arguments, found == arguments.end() ? "" : found->second) << row.pid;
    }
    // The first listing's own ps is gone by the second listing.
    EXPECT_EQ(rows.back().pid, 1200);
    EXPECT_EQ(rows.back().arguments, "");
    EXPECT_EQ(logText(), "");
}

TEST_F(PSReader, FailingProcessListingIsLoggedAndGivesNoProcesses) {
    const CommandResult failed{1, "", "ps: illegal option"};
    runner.enqueueError(PSProcessTableReader::processListing(),
                        CommandRunnerError::nonZeroExit(failed));
    EXPECT_TRUE(reader.readProcessTable().empty());
    // Nothing scripted now: the launch fails as for a missing tool.
    EXPECT_TRUE(reader.readProcessTable().empty());

    const auto log = logText();
    const std::string nonZero = CommandRunnerError::nonZeroExit(failed).what();
    const std::string launch = CommandLaunchError("/bin/ps", ENOENT).what();
    EXPECT_NE(log.find("] ProcessDetector failed: " + nonZero + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] ProcessDetector failed: " + launch + "\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    EXPECT_EQ(runner.count(PSProcessTableReader::argumentListing()), 0u);
}

TEST_F(PSReader, FailingArgumentListingKeepsRowsSilently) {
    runner.enqueue(PSProcessTableReader::processListing(),
                   {0, readFile(fixturePath("ps/linux-ps-comm.txt")), ""});
    runner.enqueueError(PSProcessTableReader::argumentListing(),
                        CommandRunnerError::nonZeroExit({1, "", ""}));
    const auto rows = reader.readProcessTable();
    EXPECT_EQ(rows, ProcessDetector::parsePSOutput(readFile(fixturePath("ps/linux-ps-comm.txt"))));
    EXPECT_EQ(logText(), "");
}

/// Starts `sleep` under the name `name` and returns its pid; killed by the caller.
pid_t spawnSleeper(const char* name) {
    char* const argv[] = {const_cast<char*>(name), const_cast<char*>("30"), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, argv, environ) != 0) {
        return -1;
    }
    return pid;
}

TEST(PSReaderLive, RealListingShowsOurOwnChildWithItsArguments) {
    if (::access("/bin/ps", X_OK) != 0) {
        GTEST_SKIP() << "/bin/ps is not installed here";
    }
    const pid_t child = spawnSleeper("agent-sleeper");
    ASSERT_GT(child, 0);
    ProcessCommandRunner runner(ProcessDetector::busyMacTimeout);
    TemporaryDirectory logFolder;
    FileLogger logger(logFolder.path() / "Nodwarden.log");
    const auto rows = PSProcessTableReader(runner, logger).readProcessTable();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    const auto row =
        std::find_if(rows.begin(), rows.end(), [&](auto& r) { return r.pid == child; });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->parentPID, ::getpid());
    EXPECT_EQ(row->arguments, "agent-sleeper 30");
    EXPECT_GE(row->cpuPercent, 0.0);
}

// MARK: - Attributing processes

class ProcessDetectorAttribution : public ::testing::Test {
protected:
    std::vector<ActivitySignal> detect(const std::vector<ProcessSnapshot>& rows,
                                       const GuardSettings& settings,
                                       std::optional<PowerSnapshot> power = std::nullopt) {
        return detector.detectPerApp(rows, settings, power);
    }
    ProcessDetector detector{std::shared_ptr<ProcessTableReading>()};
};

TEST_F(ProcessDetectorAttribution, CPUOfTheWholeTreeAgainstTheThreshold) {
    const std::vector<ProcessSnapshot> rows = {
        {500, 1, 0.0, "/bin/zsh", "-zsh"},
        {501, 500, 3.0, "claude", "claude"},
        {502, 501, 40.0, "node", "node /tmp/mcp/server.js"},
        {503, 502, 0.0, "rg", "rg TODO"},
        {504, 500, 90.0, "cc1plus", "cc1plus"}, // a sibling, not part of the tree
    };
    struct Case {
        double threshold;
        SignalStrength strength;
        std::string reason;
    };
    for (const auto& [threshold, strength, reason] : std::vector<Case>{
             {20, SignalStrength::strong, "Claude Code CPU is above the work threshold"},
             {43, SignalStrength::strong, "Claude Code CPU is above the work threshold"},
             {43.5, SignalStrength::presence, "Claude Code is running"}}) {
        SCOPED_TRACE(threshold);
        const auto signals = detect(rows, settingsWith(threshold));
        ASSERT_EQ(signals.size(), 1u);
        EXPECT_EQ(signals[0].strength, strength);
        EXPECT_EQ(signals[0].reason, reason);
        EXPECT_EQ(signals[0].appName, "Claude Code");
        EXPECT_EQ(signals[0].sessionCount, 1);
        EXPECT_EQ(signals[0].matchedText, std::nullopt);
        EXPECT_EQ(signals[0].processPresent, std::nullopt);
    }
}

TEST_F(ProcessDetectorAttribution, ThresholdComesFromThePowerSourceProfile) {
    const std::vector<ProcessSnapshot> rows = {{10, 1, 30.0, "/usr/local/bin/codex", "codex"}};
    auto settings = settingsWith(50);
    settings.pluggedInProfile.cpuThresholdPercent = 25;
    const PowerSnapshot mains{true, 80, ""};
    const PowerSnapshot battery{false, 80, ""};
    EXPECT_EQ(detect(rows, settings, mains)[0].strength, SignalStrength::strong);
    EXPECT_EQ(detect(rows, settings, battery)[0].strength, SignalStrength::presence);
    EXPECT_EQ(detect(rows, settings, std::nullopt)[0].strength, SignalStrength::presence);
}

TEST_F(ProcessDetectorAttribution, UntrustedCPUAndUnreadableCPUOnlyShowPresence) {
    const std::vector<ProcessSnapshot> rows = {
        {20, 1, 350.0, "/Applications/Claude.app/Contents/MacOS/Claude", ""},
        {30, 1, std::numeric_limits<double>::quiet_NaN(), "/usr/local/bin/gemini", "gemini"},
    };
    const auto signals = detect(rows, settingsWith(1));
    ASSERT_EQ(namesOf(signals), (std::vector<std::string>{"Claude", "Gemini CLI"}));
    EXPECT_EQ(signalNamed(signals, "Claude")->strength, SignalStrength::presence);
    EXPECT_EQ(signalNamed(signals, "Claude")->reason, "Claude is running");
    EXPECT_EQ(signalNamed(signals, "Gemini CLI")->strength, SignalStrength::presence);
}

TEST_F(ProcessDetectorAttribution, SessionsCountOnlyMatchesWithoutMatchedAncestors) {
    const std::vector<ProcessSnapshot> rows = {
        {100, 1, 0, "claude", "claude"},
        {200, 1, 0, "/opt/claude/versions/2.0.14", "claude --resume"},
        {300, 1, 5, "node", "node /opt/homebrew/bin/codex exec"},
        {301, 300, 0, "/bin/zsh", "zsh -c claude -p hi"},
        {302, 301, 30, "claude", "claude -p hi"}, // below Codex: not a Claude Code session
        {303, 302, 0, "claude", "claude"},        // below Claude Code itself
    };
    const auto signals = detect(rows, settingsWith(20));
    ASSERT_EQ(namesOf(signals), (std::vector<std::string>{"Claude Code", "Codex CLI"}));
    EXPECT_EQ(signalNamed(signals, "Claude Code")->sessionCount, 2);
    EXPECT_EQ(signalNamed(signals, "Codex CLI")->sessionCount, 1);
    // Codex's tree holds the claude it started.
    EXPECT_EQ(signalNamed(signals, "Codex CLI")->strength, SignalStrength::strong);
    EXPECT_EQ(signalNamed(signals, "Claude Code")->strength, SignalStrength::strong);
}

TEST_F(ProcessDetectorAttribution, CodexDaemonsAreNeitherASessionNorPresenceOnTheirOwn) {
    const std::string daemon =
        "/home/u/.codex/packages/app-server-daemon/releases/0.171.0/bin/codex";
    const std::string vendor =
        "/home/u/lib/node_modules/@openai/codex/vendor/x86_64-unknown-linux-musl/bin/codex";
    // The daemons after the terminal program quit: re-parented to pid 1.
    const std::vector<ProcessSnapshot> daemons = {
        {700, 1, 9.0, daemon, daemon + " app-server --listen unix:// --managed-daemon"},
        {701, 1, 0.0, daemon, daemon + " app-server daemon pid-update-loop"},
        {702, 1, 0.0, "/usr/bin/node", "node /home/u/.bin/codex app-server"},
    };
    EXPECT_TRUE(detect(daemons, settingsWith(1)).empty());

    auto withTUI = daemons;
    withTUI.push_back({600, 500, 0.1, "/usr/bin/node", "node /home/u/.bin/codex"});
    withTUI.push_back({601, 600, 0.4, vendor, vendor});
    withTUI.push_back({602, 1, 0.0, "/usr/bin/codex", "codex exec fix the app-server"});
    const auto signals = detect(withTUI, settingsWith(20));
    ASSERT_EQ(namesOf(signals), std::vector<std::string>{"Codex CLI"});
    EXPECT_EQ(signals[0].sessionCount, 2) << "the TUI and the exec run; the daemons are no session";
    EXPECT_EQ(signals[0].strength, SignalStrength::presence) << "the daemons' CPU is not the TUI's";
}

TEST_F(ProcessDetectorAttribution, ClaudeInAnEditorTerminalIsPartOfTheEditorsTree) {
    const std::string app = "/Applications/Visual Studio Code.app/Contents";
    const std::vector<ProcessSnapshot> rows = {
        {100, 1, 0.5, app + "/MacOS/Electron", app + "/MacOS/Electron"},
        {101, 100, 1.0,
         app + "/Frameworks/Code Helper (Plugin).app/Contents/MacOS/Code Helper (Plugin)", ""},
        {102, 101, 0.0, "/bin/zsh", "/bin/zsh -il"},
        {103, 102, 12.0, "claude", "claude"},
        {104, 103, 15.0, "node", "node /tmp/mcp.js"},
    };
    const auto signals = detect(rows, settingsWith(20));
    ASSERT_EQ(namesOf(signals), (std::vector<std::string>{"Claude Code", "Visual Studio Code"}));
    EXPECT_EQ(signalNamed(signals, "Claude Code")->sessionCount, 0);
    EXPECT_EQ(signalNamed(signals, "Claude Code")->strength, SignalStrength::strong);
    EXPECT_EQ(signalNamed(signals, "Visual Studio Code")->sessionCount, 1);
    EXPECT_EQ(signalNamed(signals, "Visual Studio Code")->strength, SignalStrength::presence);

    // Named as a target instead, the editor's CPU counts, and claude's tree is part of it:
    // 0.5 + 1 + 12 + 15 = 28.5.
    const auto asTarget = [&](double threshold) {
        return detect(rows,
                      settingsWith(threshold, {"Visual Studio Code"}, {"vscode", "claude-code"}));
    };
    ASSERT_EQ(namesOf(asTarget(28.5)), (std::vector<std::string>{"Visual Studio Code"}));
    EXPECT_EQ(asTarget(28.5)[0].strength, SignalStrength::strong);
    EXPECT_EQ(asTarget(28.6)[0].strength, SignalStrength::presence);
}

TEST_F(ProcessDetectorAttribution, UserTargetsMatchByNameOrPathAfterTheCatalog) {
    const std::vector<ProcessSnapshot> rows = {
        {10, 1, 50, "/usr/local/bin/mytool", "mytool --watch"},
        {20, 1, 50, "/opt/My Tool Suite/bin/runner", ""},
        {30, 1, 0, "/usr/local/bin/claude", "claude"},
        {40, 1, 50, "/usr/bin/unrelated", ""},
    };
    struct Case {
        std::vector<std::string> targets;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {{"MyTool"}, {"Claude Code", "MyTool"}},
        {{"my tool suite"}, {"Claude Code", "my tool suite"}},
        // The first matching target names the group; a catalog agent is never a target's.
        {{"Tool", "MyTool", "claude"}, {"Claude Code", "Tool"}},
        {{""}, {"Claude Code"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.targets.front());
        const auto signals = detect(rows, settingsWith(40, testCase.targets));
        EXPECT_EQ(namesOf(signals), testCase.names);
    }
    const auto signals = detect(rows, settingsWith(40, {"MyTool"}));
    EXPECT_EQ(signalNamed(signals, "MyTool")->strength, SignalStrength::strong);
    EXPECT_EQ(signalNamed(signals, "MyTool")->reason, "MyTool CPU is above the work threshold");
}

TEST_F(ProcessDetectorAttribution, LoopingParentsEndBothWalks) {
    struct Case {
        std::string name;
        std::vector<ProcessSnapshot> rows;
        double total; // the CPU the Claude Code tree adds up to
        int sessions;
    };
    const std::vector<Case> cases = {
        {"two-process loop", {{5, 6, 10, "claude", "claude"}, {6, 5, 15, "/bin/zsh", ""}}, 25, 1},
        {"loop above the agent",
         {{7, 8, 10, "claude", "claude"}, {8, 9, 1, "/bin/zsh", ""}, {9, 8, 1, "/bin/zsh", ""}},
         10,
         1},
        {"own parent", {{30, 30, 12, "claude", "claude"}}, 12, 1},
        {"two agents in a loop",
         {{40, 41, 10, "claude", "claude"}, {41, 40, 10, "claude", "claude"}},
         20,
         0},
        {"one id listed twice",
         {{50, 1, 10, "claude", "claude"}, {50, 1, 10, "claude", "claude"}},
         10,
         1},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        for (const double threshold : {testCase.total, std::nextafter(testCase.total, 1e9)}) {
            const auto signals = detect(testCase.rows, settingsWith(threshold));
            ASSERT_EQ(signals.size(), 1u);
            EXPECT_EQ(signals[0].sessionCount, testCase.sessions);
            EXPECT_EQ(signals[0].strength, threshold == testCase.total ? SignalStrength::strong
                                                                       : SignalStrength::presence);
        }
    }
}

TEST_F(ProcessDetectorAttribution, NothingWatchedGivesNoSignalsAndTheNoneSignal) {
    const std::vector<ProcessSnapshot> rows = {{1, 0, 0, "/sbin/launchd", ""},
                                               {2, 1, 99, "/usr/local/bin/claude", "claude"},
                                               {3, 1, 1, "/usr/bin/pip", "pip install x"}};
    const auto settings = settingsWith(5, {}, {"claude-code"});
    EXPECT_TRUE(detect(rows, settings).empty());
}

TEST(ProcessResolutionMemory, OnlyNewProcessesAreResolvedAndAChangedOneIsResolvedAgain) {
    // One process is the same while its pid, start time and command line are: an exec under the
    // same pid, a reused pid and a change of settings must each be resolved afresh.
    ProcessResolutions memory;
    const auto settings = GuardSettings{.targetApps = {"MyTool"}};
    const auto resolver = AgentResolver::shared(settings);
    auto resolve = [&](const std::vector<ProcessSnapshot>& rows,
                       const std::shared_ptr<const AgentResolver>& with) {
        auto resolved = memory.resolve(with, settings.targetApps, rows);
        std::vector<std::string> names;
        for (const ResolvedProcess& row : resolved) {
            names.push_back(row.profile != nullptr ? row.profile->displayName
                            : row.target           ? settings.targetApps[*row.target]
                                                   : "-");
        }
        return names;
    };
    const std::vector<ProcessSnapshot> first = {{10, 1, 0, "/bin/bash", "bash", 100},
                                                {11, 1, 0, "/usr/bin/mytool", "mytool", 110},
                                                {12, 1, 0, "/usr/bin/claude", "claude", 120}};
    EXPECT_EQ(resolve(first, resolver), (std::vector<std::string>{"-", "MyTool", "Claude Code"}));
    EXPECT_EQ(memory.lastResolvedCount(), 3U);
    EXPECT_EQ(resolve(first, resolver), (std::vector<std::string>{"-", "MyTool", "Claude Code"}));
    EXPECT_EQ(memory.lastResolvedCount(), 0U) << "an unchanged table is not resolved again";

    auto changed = first;
    changed[0] = {10, 1, 0, "/usr/bin/codex", "codex", 100}; // `exec codex` in the shell
    changed[2] = {12, 1, 0, "/bin/bash", "bash", 900};       // the pid reused for a shell
    EXPECT_EQ(resolve(changed, resolver), (std::vector<std::string>{"Codex CLI", "MyTool", "-"}));
    EXPECT_EQ(memory.lastResolvedCount(), 2U);

    auto withoutCodex = settings;
    withoutCodex.disabledAgentIDs = {"codex-cli"};
    EXPECT_EQ(resolve(changed, AgentResolver::shared(withoutCodex)),
              (std::vector<std::string>{"-", "MyTool", "-"}));
    EXPECT_EQ(memory.lastResolvedCount(), 3U) << "new settings resolve everything again";
}

/// A table reader that hands out a fixed table and counts the readings.
class FixedTable : public ProcessTableReading {
public:
    explicit FixedTable(std::vector<ProcessSnapshot> rows) : rows_(std::move(rows)) {}
    std::vector<ProcessSnapshot> readProcessTable() override {
        ++readings;
        return rows_;
    }
    int readings = 0;

private:
    std::vector<ProcessSnapshot> rows_;
};

TEST(ProcessDetectorLive, FreshDetectionReadsTheTableEachTime) {
    auto table = std::make_shared<FixedTable>(
        std::vector<ProcessSnapshot>{{10, 1, 80, "/usr/local/bin/codex", "codex"}});
    const ProcessDetector detector(table);
    EXPECT_EQ(detector.detectPerApp(settingsWith(20), std::nullopt).size(), 1u);
    EXPECT_EQ(detector.detectPerApp(settingsWith(20), std::nullopt).at(0).appName, "Codex CLI");
    EXPECT_EQ(table->readings, 2);
}

TEST(ProcessDetectorLive, CapturedMacListingEndToEnd) {
    ScriptedCommandRunner runner;
    runner.setStanding(PSProcessTableReader::processListing(),
                       {0, readFile(fixturePath("ps/macos-ps-comm.txt")), ""});
    runner.setStanding(PSProcessTableReader::argumentListing(),
                       {0, readFile(fixturePath("ps/macos-ps-args.txt")), ""});
    TemporaryDirectory logFolder;
    FileLogger logger(logFolder.path() / "Nodwarden.log");
    const ProcessDetector detector(runner, logger);

    std::vector<std::pair<std::string, std::string>> unmatched;
    AgentResolver::setOnUnmatchedHostBundle(
        [&](const std::string& host, const std::string& binary) {
            unmatched.emplace_back(host, binary);
        });
    const auto signals = detector.detectPerApp(settingsWith(20), std::nullopt);
    AgentResolver::setOnUnmatchedHostBundle({});

    // Safari stays hidden while browsers are off; Other.app's claude is not credited.
    ASSERT_EQ(namesOf(signals), (std::vector<std::string>{"Claude", "Claude Code", "Codex CLI",
                                                          "Visual Studio Code"}));
    // Claude Code: 12.5 + 3.1 (its MCP server) + 1.2 (in the editor) = 16.8 < 20.
    EXPECT_EQ(signalNamed(signals, "Claude Code")->strength, SignalStrength::presence);
    EXPECT_EQ(signalNamed(signals, "Claude Code")->sessionCount, 1);
    // Codex through node, with its native binary below: 0.4 + 35.2.
    EXPECT_EQ(signalNamed(signals, "Codex CLI")->strength, SignalStrength::strong);
    EXPECT_EQ(signalNamed(signals, "Codex CLI")->sessionCount, 1);
    EXPECT_EQ(signalNamed(signals, "Visual Studio Code")->sessionCount, 1);
    EXPECT_EQ(unmatched, (std::vector<std::pair<std::string, std::string>>{{"Other", "claude"}}));
    const auto lower = detector.detectPerApp(settingsWith(16.7), std::nullopt);
    EXPECT_EQ(signalNamed(lower, "Claude Code")->strength, SignalStrength::strong);
}

} // namespace
