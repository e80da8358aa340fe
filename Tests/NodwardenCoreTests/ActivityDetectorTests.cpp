#include <NodwardenCore/ActivityDetector.hpp>

#include <NodwardenCore/AccessibilityDetector.hpp>
#include <NodwardenCore/AgentCatalog.hpp>
#include <NodwardenCore/FileActivityProbe.hpp>
#include <NodwardenCore/ProcessDetector.hpp>
#include <NodwardenCore/SessionActivityDetector.hpp>

#include "Support/FakeAccessibilityPlatform.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using nodwarden::ActivityDetector;
using nodwarden::ActivitySignal;
using nodwarden::AgentProfile;
using nodwarden::Date;
using nodwarden::GuardSettings;
using nodwarden::PowerSnapshot;
using nodwarden::SignalStrength;
using nodwarden::TimeInterval;

namespace {

struct ScriptedProcesses : nodwarden::ProcessActivityDetecting {
    std::vector<ActivitySignal> signals;
    std::vector<std::optional<PowerSnapshot>> powers;

    std::vector<ActivitySignal> detectPerApp(const GuardSettings&,
                                             const std::optional<PowerSnapshot>& power) override {
        powers.push_back(power);
        return signals;
    }
};

struct ScriptedScreen : nodwarden::ScreenTextActivityDetecting {
    std::vector<ActivitySignal> signals;

    std::vector<ActivitySignal> detectPerApp(const GuardSettings&) override { return signals; }
};

struct ScriptedSessions : nodwarden::SessionActivityDetecting {
    std::vector<ActivitySignal> signals;
    std::map<std::string, int> counts;
    std::vector<std::pair<Date, TimeInterval>> freshnessCalls;
    std::vector<std::pair<Date, TimeInterval>> countCalls;

    std::vector<ActivitySignal> detectPerApp(const GuardSettings&, Date now,
                                             TimeInterval freshnessWindow) override {
        freshnessCalls.emplace_back(now, freshnessWindow);
        return signals;
    }
    std::map<std::string, int> sessionCountsPerApp(const GuardSettings&, Date now,
                                                   TimeInterval window) override {
        countCalls.emplace_back(now, window);
        return counts;
    }
};

ActivitySignal signal(SignalStrength strength, std::optional<std::string> name, std::string reason,
                      std::optional<std::string> matchedText = std::nullopt,
                      std::optional<int> sessionCount = std::nullopt) {
    ActivitySignal result;
    result.strength = strength;
    result.appName = std::move(name);
    result.reason = std::move(reason);
    result.matchedText = std::move(matchedText);
    result.sessionCount = sessionCount;
    return result;
}

ActivitySignal processSignal(const std::string& name,
                             SignalStrength strength = SignalStrength::presence, int sessions = 1) {
    return signal(strength, name,
                  strength == SignalStrength::strong ? name + " CPU is above the work threshold"
                                                     : name + " is running",
                  std::nullopt, sessions);
}

ActivitySignal screenSignal(const std::string& name,
                            SignalStrength strength = SignalStrength::strong,
                            const std::string& phrase = "esc to interrupt") {
    return signal(strength, name, "UI text matched active phrase \"" + phrase + "\"", phrase);
}

ActivitySignal sessionSignal(const std::string& name) {
    return signal(SignalStrength::strong, name, name + " session active (10s ago)");
}

/// Three scripted detectors and the activity detector over them.
struct Harness {
    ScriptedProcesses processes;
    ScriptedScreen screen;
    ScriptedSessions sessions;
    ActivityDetector detector{processes, screen, sessions};
    GuardSettings settings = GuardSettings::defaults();
    PowerSnapshot power{true, 80, "Now drawing from 'AC Power'"};

    std::vector<ActivitySignal> run(Date now) {
        return detector.detectPerApp(settings, power, now);
    }

    /// Runs with only a process signal for `name`, so the detector remembers seeing it at `now`.
    void seeProcess(const std::string& name, Date now) {
        processes.signals = {processSignal(name)};
        run(now);
        processes.signals.clear();
    }
};

std::vector<std::string> names(const std::vector<ActivitySignal>& signals) {
    std::vector<std::string> result;
    for (const ActivitySignal& each : signals) {
        result.push_back(each.appName.value_or("<none>"));
    }
    return result;
}

AgentProfile profileWithID(const std::string& id) {
    for (const AgentProfile& profile : nodwarden::AgentCatalog::builtin()) {
        if (profile.id == id) {
            return profile;
        }
    }
    ADD_FAILURE() << "no profile " << id;
    return {};
}

// MARK: - The two emit rules

struct EmitCase {
    const char* name;
    const char* profileID;
    std::optional<Date> lastSeen;
    Date now;
    bool terminalText;
    bool sessionFiles;
};

void PrintTo(const EmitCase& c, std::ostream* os) {
    *os << c.name;
}

class ActivityEmitRules : public testing::TestWithParam<EmitCase> {};

TEST_P(ActivityEmitRules, FollowTheProfileFlagsAndTheWindow) {
    const EmitCase& c = GetParam();
    const AgentProfile profile = profileWithID(c.profileID);
    EXPECT_EQ(
        ActivityDetector::shouldEmitTerminalAccessibilitySignal(profile, c.lastSeen, c.now, 90),
        c.terminalText);
    EXPECT_EQ(ActivityDetector::shouldEmitSessionSignal(profile, c.lastSeen, c.now, 90),
              c.sessionFiles);
}

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, ActivityEmitRules,
    testing::Values(
        // Claude Code: terminal text needs its process; its session files are its own.
        EmitCase{"OwnFilesNeverSeen", "claude-code", std::nullopt, 1000, false, true},
        EmitCase{"SeenAtTheWindowEdge", "claude-code", 910, 1000, true, true},
        EmitCase{"SeenJustTooLongAgo", "claude-code", 909.5, 1000, false, true},
        EmitCase{"SeenInTheFuture", "claude-code", 2000, 1000, true, true},
        EmitCase{"UnknownAge", "claude-code", 1000, notANumber, false, true},
        // OpenCode shares its session files with other programs.
        EmitCase{"SharedFilesNeverSeen", "opencode", std::nullopt, 1000, false, false},
        EmitCase{"SharedFilesSeenRecently", "opencode", 950, 1000, true, true},
        // A desktop agent is not looked for in terminals and has no shared files.
        EmitCase{"DesktopAgentNeverSeen", "chatgpt-desktop", std::nullopt, 1000, true, true}),
    [](const testing::TestParamInfo<EmitCase>& param) { return std::string(param.param.name); });

// MARK: - Filtering by process memory

TEST(ActivityDetectorFilter, TerminalTextCountsOnlyWithinNinetySecondsOfTheAgentsProcess) {
    Harness harness;
    harness.screen.signals = {screenSignal("Claude Code")};
    EXPECT_TRUE(harness.run(1000).empty()) << "never seen";

    harness.seeProcess("Claude Code", 1000);
    EXPECT_EQ(names(harness.run(1030)), std::vector<std::string>{"Claude Code"});
    EXPECT_EQ(names(harness.run(1090)), std::vector<std::string>{"Claude Code"});
    EXPECT_TRUE(harness.run(1091).empty());

    harness.seeProcess("Claude Code", 1100);
    EXPECT_EQ(names(harness.run(1150)), std::vector<std::string>{"Claude Code"})
        << "a later sighting refreshes the memory";
}

TEST(ActivityDetectorFilter, OnScreenSignalsOfOtherApplicationsAlwaysPass) {
    Harness harness;
    harness.settings.targetApps = {"MyTool"};
    harness.screen.signals = {screenSignal("ChatGPT", SignalStrength::strong, "Stop generating"),
                              screenSignal("MyTool", SignalStrength::presence, "waiting"),
                              screenSignal("Some Browser Tab")};
    EXPECT_EQ(names(harness.run(1000)),
              (std::vector<std::string>{"ChatGPT", "MyTool", "Some Browser Tab"}));
}

TEST(ActivityDetectorFilter, SharedSessionFilesCountOnlyWhileTheAgentRuns) {
    Harness harness;
    harness.sessions.signals = {sessionSignal("OpenCode"), sessionSignal("Claude Code")};

    const auto withoutProcesses = harness.run(1000);
    ASSERT_EQ(names(withoutProcesses), std::vector<std::string>{"Claude Code"});
    EXPECT_EQ(withoutProcesses[0].strength, SignalStrength::strong);
    EXPECT_EQ(withoutProcesses[0].processPresent, false);

    harness.seeProcess("OpenCode", 1000);
    EXPECT_EQ(names(harness.run(1010)), (std::vector<std::string>{"Claude Code", "OpenCode"}));
}

TEST(ActivityDetectorFilter, ProcessSeenNowPassesBothFilters) {
    Harness harness;
    harness.processes.signals = {processSignal("OpenCode")};
    harness.screen.signals = {screenSignal("OpenCode")};
    harness.sessions.signals = {sessionSignal("OpenCode")};

    const auto merged = harness.run(5000);
    ASSERT_EQ(merged.size(), 1U);
    EXPECT_EQ(merged[0].reason, "UI text matched active phrase \"esc to interrupt\"");
}

// MARK: - Merging

struct MergeCase {
    const char* name;
    std::vector<ActivitySignal> process;
    std::vector<ActivitySignal> screen;
    std::vector<ActivitySignal> session;
    std::string expectedReason;
};

void PrintTo(const MergeCase& c, std::ostream* os) {
    *os << c.name;
}

class ActivityDetectorMerge : public testing::TestWithParam<MergeCase> {};

TEST_P(ActivityDetectorMerge, KeepsTheStrongestAndPrefersMatchedTextOnATie) {
    Harness harness;
    harness.processes.signals = GetParam().process;
    harness.screen.signals = GetParam().screen;
    harness.sessions.signals = GetParam().session;

    const auto merged = harness.run(1000);
    ASSERT_EQ(merged.size(), 1U);
    EXPECT_EQ(merged[0].reason, GetParam().expectedReason);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActivityDetectorMerge,
    testing::Values(MergeCase{"EqualStrengthOnScreenTextWins",
                              {processSignal("Claude Code", SignalStrength::strong)},
                              {screenSignal("Claude Code")},
                              {},
                              "UI text matched active phrase \"esc to interrupt\""},
                    MergeCase{"WeakerOnScreenTextLoses",
                              {processSignal("Claude Code", SignalStrength::strong)},
                              {screenSignal("Claude Code", SignalStrength::weak)},
                              {},
                              "Claude Code CPU is above the work threshold"},
                    MergeCase{"SessionBeatsPresence",
                              {processSignal("Claude Code")},
                              {},
                              {sessionSignal("Claude Code")},
                              "Claude Code session active (10s ago)"},
                    MergeCase{"OnScreenTextKeptOverEqualSession",
                              {},
                              {screenSignal("Claude Desktop Thing")},
                              {sessionSignal("Claude Desktop Thing")},
                              "UI text matched active phrase \"esc to interrupt\""},
                    MergeCase{"BothWithTextEarlierStays",
                              {signal(SignalStrength::strong, "Zed", "first", "one")},
                              {screenSignal("Zed", SignalStrength::strong, "Generating response")},
                              {},
                              "first"},
                    MergeCase{"NeitherWithTextEarlierStays",
                              {processSignal("Claude Code", SignalStrength::strong)},
                              {},
                              {sessionSignal("Claude Code")},
                              "Claude Code CPU is above the work threshold"},
                    MergeCase{"StrongerSessionOverPresenceOnScreen",
                              {},
                              {screenSignal("ChatGPT", SignalStrength::presence, "Ask anything")},
                              {sessionSignal("ChatGPT")},
                              "ChatGPT session active (10s ago)"},
                    MergeCase{"SignalsWithoutANameAreDropped",
                              {signal(SignalStrength::strong, std::nullopt, "anonymous process")},
                              {signal(SignalStrength::strong, std::nullopt, "anonymous screen")},
                              {processSignal("Zed")},
                              "Zed is running"}),
    [](const testing::TestParamInfo<MergeCase>& param) { return std::string(param.param.name); });

TEST(ActivityDetectorMerge, SessionSignalKeptOverPresenceReportsTheProcess) {
    Harness harness;
    harness.processes.signals = {processSignal("Claude Code", SignalStrength::presence, 2)};
    harness.sessions.signals = {sessionSignal("Claude Code")};
    harness.sessions.counts = {{"Claude Code", 1}};

    const auto merged = harness.run(1000);
    ASSERT_EQ(merged.size(), 1U);
    ActivitySignal expected = sessionSignal("Claude Code");
    expected.sessionCount = 1;
    expected.processPresent = true;
    EXPECT_EQ(merged[0], expected);
}

// MARK: - Session counts and process presence

struct CountCase {
    const char* name;
    std::vector<ActivitySignal> process;
    std::vector<ActivitySignal> screen;
    std::map<std::string, int> fileCounts;
    std::optional<int> sessionCount;
    bool processPresent;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.name;
}

class ActivityDetectorCounts : public testing::TestWithParam<CountCase> {};

TEST_P(ActivityDetectorCounts, CompletesTheMergedSignal) {
    Harness harness;
    harness.processes.signals = GetParam().process;
    harness.screen.signals = GetParam().screen;
    harness.sessions.counts = GetParam().fileCounts;

    const auto merged = harness.run(1000);
    ASSERT_EQ(merged.size(), 1U);
    EXPECT_EQ(merged[0].sessionCount, GetParam().sessionCount);
    EXPECT_EQ(merged[0].processPresent, GetParam().processPresent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActivityDetectorCounts,
    testing::Values(CountCase{"NoRecentTranscriptHidesTheProcessCount",
                              {processSignal("Claude Code", SignalStrength::presence, 2)},
                              {},
                              {{"Claude Code", 0}, {"Codex CLI", 4}},
                              std::nullopt,
                              true},
                    CountCase{"RecentTranscriptsWinOverProcesses",
                              {processSignal("Claude Code", SignalStrength::strong, 2)},
                              {},
                              {{"Claude Code", 3}},
                              3,
                              true},
                    CountCase{"ProcessCountWithoutCountPatterns",
                              {processSignal("Cursor", SignalStrength::presence, 1)},
                              {},
                              {{"Claude Code", 3}},
                              1,
                              true},
                    CountCase{"ZeroProcessCountIsKept",
                              {processSignal("Claude Code", SignalStrength::presence, 0)},
                              {},
                              {},
                              0,
                              true},
                    CountCase{
                        "SeenOnlyOnScreen",
                        {},
                        {screenSignal("Cursor", SignalStrength::strong, "Generating response")},
                        {},
                        std::nullopt,
                        false},
                    CountCase{"OnScreenOnlyWithTranscripts",
                              {},
                              {screenSignal("ChatGPT", SignalStrength::strong, "Stop generating")},
                              {{"ChatGPT", 2}},
                              2,
                              false},
                    CountCase{"ProcessSignalWithoutCountIsNotPresence",
                              {signal(SignalStrength::presence, "Zed", "Zed is running")},
                              {},
                              {},
                              std::nullopt,
                              false}),
    [](const testing::TestParamInfo<CountCase>& param) { return std::string(param.param.name); });

// MARK: - Order and the single strongest signal

TEST(ActivityDetectorOrder, SortsByNameInCodePointOrder) {
    Harness harness;
    harness.processes.signals = {processSignal("Zed"), processSignal("Éclair"),
                                 processSignal("aTool"), processSignal("Codex CLI"),
                                 processSignal("Claude Code")};
    EXPECT_EQ(names(harness.run(1000)),
              (std::vector<std::string>{"Claude Code", "Codex CLI", "Zed", "aTool", "Éclair"}));
}

TEST(ActivityDetectorOrder, DetectReturnsTheAlphabeticallyFirstOfTheStrongest) {
    Harness harness;
    harness.processes.signals = {processSignal("Zed", SignalStrength::strong),
                                 processSignal("Cursor", SignalStrength::presence),
                                 processSignal("Codex CLI", SignalStrength::strong)};
    const ActivitySignal strongest = harness.detector.detect(harness.settings, harness.power, 1000);
    EXPECT_EQ(strongest.appName, "Codex CLI");
    EXPECT_EQ(strongest.processPresent, true);
}

TEST(ActivityDetectorOrder, NothingFoundGivesAnEmptyListAndNoSignal) {
    Harness harness;
    EXPECT_TRUE(harness.run(1000).empty());
    EXPECT_EQ(harness.detector.detect(harness.settings, harness.power, 1000),
              ActivitySignal::none());
}

TEST(ActivityDetectorCalls, PassesPowerTimeAndTheSessionWindows) {
    Harness harness;
    harness.run(1234.5);
    ASSERT_EQ(harness.processes.powers.size(), 1U);
    EXPECT_EQ(harness.processes.powers[0], harness.power);
    EXPECT_EQ(harness.sessions.freshnessCalls,
              (std::vector<std::pair<Date, TimeInterval>>{{1234.5, 60}}));
    EXPECT_EQ(harness.sessions.countCalls,
              (std::vector<std::pair<Date, TimeInterval>>{{1234.5, 300}}));
}

} // namespace

// MARK: - Over the library's own detectors

struct FixedProcessTable : nodwarden::ProcessTableReading {
    std::vector<nodwarden::ProcessSnapshot> rows;
    std::vector<nodwarden::ProcessSnapshot> readProcessTable() override { return rows; }
};

TEST(ActivityDetectorOverRealDetectors, MergesProcessesScreenTextAndSessionFiles) {
    stayloom::testing::TemporaryDirectory home;
    home.write(".claude/projects/app/one.jsonl", "{}\n");
    home.write(".claude/projects/app/two.jsonl", "{}\n");
    const auto stale = home.write(".claude/projects/old/three.jsonl", "{}\n");
    std::filesystem::last_write_time(stale, std::filesystem::last_write_time(stale) -
                                                std::chrono::seconds(400));
    home.write(".local/share/opencode/opencode.db-wal", "wal");
    const Date filesWritten = nodwarden::dateFromUnixTime(
        static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count()));

    auto table = std::make_shared<FixedProcessTable>();
    table->rows = {{100, 1, 0.5, "/opt/homebrew/bin/claude", "claude"},
                   {101, 100, 0.2, "/bin/zsh", "zsh -c make"}};
    nodwarden::ProcessDetector processes(table);
    stayloom::testing::FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.apple.Terminal", "Terminal", 300,
                                   "✻ Working… (esc to interrupt)");
    platform.addApplicationShowing("com.todesktop.230313mzl4w4u92", "Cursor", 301,
                                   "Generating response");
    nodwarden::AccessibilityDetector screen(platform);
    nodwarden::SessionActivityDetector sessions(
        std::make_shared<nodwarden::FileActivityProbe>(home.path(), 8));
    ActivityDetector detector(processes, screen, sessions);
    const GuardSettings settings = GuardSettings::defaults();
    const PowerSnapshot power{true, 90, ""};

    // Terminal text credits every command-line agent, but only Claude Code runs; OpenCode's
    // shared database file does not count without its process.
    const auto first = detector.detectPerApp(settings, power, filesWritten + 10);
    ASSERT_EQ(names(first), (std::vector<std::string>{"Claude Code", "Cursor"}));
    ActivitySignal claude = screenSignal("Claude Code");
    claude.sessionCount = 2;
    claude.processPresent = true;
    EXPECT_EQ(first[0], claude);
    ActivitySignal cursor = screenSignal("Cursor", SignalStrength::strong, "Generating response");
    cursor.processPresent = false;
    EXPECT_EQ(first[1], cursor);

    table->rows.push_back({200, 1, 0.0, "/usr/local/bin/opencode", "opencode"});
    const auto second = detector.detectPerApp(settings, power, filesWritten + 20);
    ASSERT_EQ(names(second), (std::vector<std::string>{"Claude Code", "Cursor", "OpenCode"}));
    EXPECT_EQ(second[2].matchedText, "esc to interrupt");
    EXPECT_EQ(second[2].sessionCount, 1);
    EXPECT_EQ(second[2].processPresent, true);

    // Every process gone for more than 90 s and the files gone stale: only the editor is left.
    table->rows.clear();
    EXPECT_EQ(names(detector.detectPerApp(settings, power, filesWritten + 111)),
              std::vector<std::string>{"Cursor"});
}
