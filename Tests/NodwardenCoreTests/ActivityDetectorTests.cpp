#include <NodwardenCore/detection/ActivityDetector.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/DetectionPass.hpp>
#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/SessionActivityDetector.hpp>

#include "Support/FakeAccessibilityPlatform.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace nodwarden;
using Strength = nodwarden::SignalStrength;

namespace {

struct ScriptedDetectors : nodwarden::ProcessActivityDetecting,
                           nodwarden::ScreenTextActivityDetecting,
                           nodwarden::SessionActivityDetecting {
    std::vector<ActivitySignal> processSignals, screenSignals, sessionSignals;
    std::map<std::string, int> fileCounts;
    std::vector<std::string> calls;

    std::vector<nodwarden::ProcessSnapshot> table;

    std::vector<nodwarden::ProcessSnapshot> liveSnapshot() override { return table; }
    std::vector<ActivitySignal> detectPerApp(const std::vector<nodwarden::ProcessSnapshot>&,
                                             const GuardSettings&,
                                             const std::optional<PowerSnapshot>& power) override {
        calls.push_back("processes on mains " + std::to_string(power && power->isOnACPower));
        return processSignals;
    }
    std::vector<ActivitySignal> detectPerApp(const GuardSettings&) override {
        return screenSignals;
    }
    std::vector<ActivitySignal> detectPerApp(const GuardSettings&, Date now,
                                             TimeInterval window) override {
        calls.push_back("sessions at " + std::to_string(now) + " within " + std::to_string(window));
        return sessionSignals;
    }
    std::map<std::string, int> sessionCountsPerApp(const GuardSettings&, Date now,
                                                   TimeInterval window) override {
        calls.push_back("counts at " + std::to_string(now) + " within " + std::to_string(window));
        return fileCounts;
    }
};

ActivitySignal signal(Strength strength, std::optional<std::string> name, std::string reason,
                      std::optional<std::string> matchedText = std::nullopt,
                      std::optional<int> sessionCount = std::nullopt) {
    return {strength,     std::move(name), std::move(reason),       std::move(matchedText),
            sessionCount, std::nullopt,    ReasonCode::unspecified, {}};
}
ActivitySignal process(const std::string& name, Strength strength = Strength::presence,
                       int sessions = 1) {
    return signal(strength, name, name + (strength == Strength::strong ? " CPU" : " is running"),
                  std::nullopt, sessions);
}
ActivitySignal onScreen(const std::string& name, Strength strength = Strength::strong,
                        const std::string& phrase = "esc to interrupt") {
    return signal(strength, name, "UI text \"" + phrase + "\"", phrase);
}
ActivitySignal session(const std::string& name) {
    return signal(Strength::strong, name, name + " session");
}

struct Harness {
    ScriptedDetectors scripted;
    ActivityDetector detector{scripted, scripted, scripted};
    GuardSettings settings = GuardSettings::defaults();

    std::vector<ActivitySignal> run(Date now) {
        return detector.detectPerApp(settings, PowerSnapshot{true, 80, ""}, now);
    }
    void seeProcess(const std::string& name, Date now) {
        scripted.processSignals = {process(name)};
        run(now);
        scripted.processSignals.clear();
    }
};

std::vector<std::string> names(const std::vector<ActivitySignal>& signals) {
    std::vector<std::string> result;
    for (const ActivitySignal& each : signals) {
        result.push_back(each.appName.value_or("<none>"));
    }
    return result;
}

TEST(ActivityDetector, EmitRulesFollowTheProfileFlagsAndTheWindow) {
    struct Case {
        const char* profileID;
        std::optional<Date> lastSeen;
        Date now;
        bool terminalText, sessionFiles;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Claude Code's terminal text needs its process but its session files are its own; OpenCode
    // shares its session files; a desktop agent is never looked for in terminals.
    // clang-format off
    const std::vector<Case> cases = {
        {"claude-code", std::nullopt, 1000, false, true}, {"claude-code", 910,  1000, true, true},
        {"claude-code", 909.5,        1000, false, true}, {"claude-code", 2000, 1000, true, true},
        {"claude-code", 1000,         nan,  false, true}, {"opencode",    950,  1000, true, true},
        {"opencode", std::nullopt, 1000, false, false}, {"chatgpt-desktop", std::nullopt, 1000, true, true}};
    // clang-format on
    const auto catalog = nodwarden::AgentCatalog::builtin();
    for (const Case& c : cases) {
        const auto profile =
            std::find_if(catalog.begin(), catalog.end(),
                         [&](const AgentProfile& p) { return p.id == c.profileID; });
        ASSERT_NE(profile, catalog.end());
        EXPECT_EQ(ActivityDetector::shouldEmitTerminalAccessibilitySignal(*profile, c.lastSeen,
                                                                          c.now, 90),
                  c.terminalText)
            << c.profileID << " " << c.now;
        EXPECT_EQ(ActivityDetector::shouldEmitSessionSignal(*profile, c.lastSeen, c.now, 90),
                  c.sessionFiles)
            << c.profileID << " " << c.now;
    }
}

TEST(ActivityDetector, TerminalTextCountsOnlyWithinNinetySecondsOfTheAgentsProcess) {
    Harness harness;
    harness.settings.targetApps = {"MyTool"};
    harness.scripted.screenSignals = {onScreen("Claude Code"), onScreen("ChatGPT"),
                                      onScreen("MyTool", Strength::presence, "waiting")};
    const std::vector<std::string> others = {"ChatGPT", "MyTool"};
    EXPECT_EQ(names(harness.run(1000)), others) << "never seen";

    harness.seeProcess("Claude Code", 1000);
    const std::vector<std::string> all = {"ChatGPT", "Claude Code", "MyTool"};
    EXPECT_EQ(names(harness.run(1030)), all);
    EXPECT_EQ(names(harness.run(1090)), all);
    EXPECT_EQ(names(harness.run(1091)), others);
    harness.seeProcess("Claude Code", 1100);
    EXPECT_EQ(names(harness.run(1150)), all) << "a later sighting refreshes the memory";
}

TEST(ActivityDetector, SharedSessionFilesCountOnlyWhileTheAgentRuns) {
    Harness harness;
    harness.scripted.sessionSignals = {session("OpenCode"), session("Claude Code")};
    const auto alone = harness.run(1000);
    ASSERT_EQ(names(alone), std::vector<std::string>{"Claude Code"});
    EXPECT_EQ(alone[0].strength, Strength::strong);

    harness.seeProcess("OpenCode", 1000);
    EXPECT_EQ(names(harness.run(1010)), (std::vector<std::string>{"Claude Code", "OpenCode"}));

    // A process seen in this very pass passes both filters.
    harness.scripted.processSignals = {process("Pi")};
    harness.scripted.screenSignals = {onScreen("Pi")};
    harness.scripted.sessionSignals = {session("Pi")};
    const auto now = harness.run(5000);
    ASSERT_EQ(names(now), std::vector<std::string>{"Pi"});
    EXPECT_EQ(now[0].matchedText, "esc to interrupt");
}

TEST(ActivityDetector, MergeKeepsTheStrongestAndPrefersMatchedTextOnATie) {
    struct Case {
        std::vector<ActivitySignal> processes, screen, sessions;
        std::string reason;
    };
    const std::string cc = "Claude Code", hint = "UI text \"esc to interrupt\"";
    const ActivitySignal anonymous = signal(Strength::strong, std::nullopt, "anonymous");
    // clang-format off
    const std::vector<Case> cases = {
        {{process(cc, Strength::strong)}, {onScreen(cc)},                 {},            hint},
        {{process(cc, Strength::strong)}, {onScreen(cc, Strength::weak)}, {},            cc + " CPU"},
        {{process(cc)},                   {},                             {session(cc)}, cc + " session"},
        {{process(cc, Strength::strong)}, {},                             {session(cc)}, cc + " CPU"},
        {{},                              {onScreen("Thing")},            {session("Thing")}, hint},
        {{signal(Strength::strong, "Zed", "first", "one")}, {onScreen("Zed")}, {},   "first"},
        {{}, {onScreen("ChatGPT", Strength::presence, "Ask")}, {session("ChatGPT")}, "ChatGPT session"},
        {{anonymous},                     {anonymous},                    {process("Zed")}, "Zed is running"}};
    // clang-format on
    for (const Case& c : cases) {
        Harness harness;
        harness.scripted.processSignals = c.processes;
        harness.scripted.screenSignals = c.screen;
        harness.scripted.sessionSignals = c.sessions;
        const auto merged = harness.run(1000);
        ASSERT_EQ(merged.size(), 1U) << c.reason;
        EXPECT_EQ(merged[0].reason, c.reason);
    }
}

TEST(ActivityDetector, CompletesSessionCountAndProcessPresence) {
    struct Case {
        std::vector<ActivitySignal> processes, screen;
        std::map<std::string, int> fileCounts;
        std::optional<int> sessionCount;
        bool processPresent;
    };
    const std::string cc = "Claude Code";
    const auto none = std::nullopt;
    // clang-format off
    const std::vector<Case> cases = {
        {{process(cc, Strength::presence, 2)},       {}, {{cc, 0}, {"Codex CLI", 4}}, none, true},
        {{process(cc, Strength::strong, 2)},         {}, {{cc, 3}},                   3,    true},
        {{process("Cursor", Strength::presence, 1)}, {}, {{cc, 3}},                   1,    true},
        {{process(cc, Strength::presence, 0)},       {}, {},                          0,    true},
        {{}, {onScreen("Cursor")},                       {},                          none, false},
        {{}, {onScreen("ChatGPT")},                      {{"ChatGPT", 2}},            2,    false},
        {{signal(Strength::presence, "Zed", "no count")}, {}, {},                     none, false}};
    // clang-format on
    for (const Case& c : cases) {
        Harness harness;
        harness.scripted.processSignals = c.processes;
        harness.scripted.screenSignals = c.screen;
        harness.scripted.fileCounts = c.fileCounts;
        const auto merged = harness.run(1000);
        ASSERT_EQ(merged.size(), 1U);
        EXPECT_EQ(merged[0].sessionCount, c.sessionCount) << *merged[0].appName;
        EXPECT_EQ(merged[0].processPresent, c.processPresent) << *merged[0].appName;
    }
}

TEST(ActivityDetector, SortsByCodePointsAndDetectsTheFirstStrongest) {
    Harness harness;
    EXPECT_TRUE(harness.run(1000).empty());

    harness.scripted.processSignals = {process("Zed", Strength::strong), process("Éclair"),
                                       process("aTool"), process("Codex CLI", Strength::strong),
                                       process("Claude Code")};
    EXPECT_EQ(names(harness.run(1000)),
              (std::vector<std::string>{"Claude Code", "Codex CLI", "Zed", "aTool", "Éclair"}));
    EXPECT_EQ(strongestSignal(harness.run(1000)).appName, "Codex CLI");
    EXPECT_EQ(harness.scripted.calls[0], "processes on mains 1");
    EXPECT_EQ(harness.scripted.calls[1], "sessions at 1000.000000 within 60.000000");
    EXPECT_EQ(harness.scripted.calls[2], "counts at 1000.000000 within 300.000000");
}

struct FixedProcessTable : nodwarden::ProcessTableReading {
    std::vector<nodwarden::ProcessSnapshot> rows;
    std::vector<nodwarden::ProcessSnapshot> readProcessTable() override { return rows; }
};

TEST(ActivityDetector, MergesTheLibrarysOwnDetectorsOverRealFiles) {
    stayloom::testing::TemporaryDirectory home;
    home.write(".claude/projects/app/one.jsonl", "{}\n");
    home.write(".claude/projects/app/two.jsonl", "{}\n");
    const auto stale = home.write(".claude/projects/old/three.jsonl", "{}\n");
    std::filesystem::last_write_time(stale, std::filesystem::last_write_time(stale) -
                                                std::chrono::seconds(400));
    home.write(".local/share/opencode/opencode.db-wal", "wal");
    const Date written = nodwarden::dateFromUnixTime(
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

    // The terminal credits every command-line agent, but only Claude Code runs; OpenCode's
    // shared database file does not count without its process.
    const auto first = detector.detectPerApp(settings, {}, written + 10);
    ASSERT_EQ(names(first), (std::vector<std::string>{"Claude Code", "Cursor"}));
    // The screen's finding, with the code and phrase a program words it from.
    ActivitySignal onScreen{Strength::strong,
                            "Claude Code",
                            "UI text matched active phrase \"esc to interrupt\"",
                            "esc to interrupt",
                            2,
                            true,
                            ReasonCode::screenActivePhrase,
                            "esc to interrupt"};
    onScreen.decidedBy = nodwarden::DecidingWitness::screen;
    EXPECT_EQ(first[0], onScreen);
    EXPECT_EQ(first[1].sessionCount, std::nullopt);
    EXPECT_EQ(first[1].processPresent, false);

    table->rows.push_back({200, 1, 0.0, "/usr/local/bin/opencode", "opencode"});
    const auto second = detector.detectPerApp(settings, {}, written + 20);
    ASSERT_EQ(names(second), (std::vector<std::string>{"Claude Code", "Cursor", "OpenCode"}));
    EXPECT_EQ(second[2].sessionCount, 1);

    table->rows.clear();
    EXPECT_EQ(names(detector.detectPerApp(settings, {}, written + 111)),
              std::vector<std::string>{"Cursor"});
}

} // namespace

namespace {

/// A witness that says what it is told and remembers the table it was shown.
struct ScriptedWitness : nodwarden::AgentVerdictDetecting {
    std::vector<AgentVerdict> verdicts;
    std::vector<nodwarden::ProcessSnapshot> tableSeen;
    const nodwarden::DetectionPass* passSeen = nullptr;
    std::vector<std::string> runningSeen;
    std::vector<AgentVerdict> detectVerdicts(const nodwarden::DetectionPass& pass) override {
        tableSeen = pass.processes();
        passSeen = &pass;
        runningSeen.clear();
        for (const auto& [id, agent] : pass.runningAgents()) {
            runningSeen.push_back(id);
        }
        return verdicts;
    }
};

AgentVerdict verdict(const std::string& name, AgentWorkState state, AgentVerdictSource source) {
    return {name, state, source};
}

TEST(ActivityDetector, TheVerdictOfTheBestQualityDecidesForItsAgent) {
    using State = AgentWorkState;
    const auto record = AgentVerdictSource::statusRecord;
    const auto screen = AgentVerdictSource::screen;
    const auto chat = AgentVerdictSource::conversation;
    const auto oneShot = AgentVerdictSource::oneShotRun;
    const auto startUp = AgentVerdictSource::startUp;
    const auto hook = AgentVerdictSource::hook;
    const auto hookWithoutCancel = AgentVerdictSource::hookWithoutCancel;
    const std::string cx = "Codex CLI";
    struct Case {
        const char* what;
        std::vector<ActivitySignal> processes, onScreen, sessions;
        std::vector<AgentVerdict> records, screens;
        Strength strength;
        std::string reason;
        /// The turns hooks announced, asked after the screens as the program asks them.
        std::vector<AgentVerdict> hooks = {};
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"quiet CPU, the record says working", {process(cx)}, {}, {},
         {verdict(cx, State::working, record)}, {}, Strength::strong, cx + " reports it is working"},
        {"busy CPU, the record says idle", {process(cx, Strength::strong)}, {}, {},
         {verdict(cx, State::idle, record)}, {}, Strength::presence, cx + " reports it is idle"},
        {"fresh files and a phrase, the record says idle", {process(cx)}, {onScreen(cx)}, {session(cx)},
         {verdict(cx, State::idle, record)}, {}, Strength::presence, cx + " reports it is idle"},
        {"the record outranks the screen", {process(cx)}, {}, {},
         {verdict(cx, State::idle, record)}, {verdict(cx, State::working, screen)},
         Strength::presence, cx + " reports it is idle"},
        {"only a screen speaks", {process(cx, Strength::strong)}, {}, {},
         {}, {verdict(cx, State::idle, screen)}, Strength::presence, cx + " shows it is idle"},
        {"a screen shows work", {process(cx)}, {}, {},
         {}, {verdict(cx, State::working, screen)}, Strength::strong, cx + " shows it is working"},
        {"a chat awaiting a reply yields to an idle screen", {process(cx)}, {}, {},
         {verdict(cx, State::working, chat)}, {verdict(cx, State::idle, screen)},
         Strength::presence, cx + " shows it is idle"},
        {"a chat awaiting a reply outranks quiet CPU", {process(cx)}, {}, {},
         {verdict(cx, State::working, chat)}, {}, Strength::strong, cx + "'s chat awaits a reply"},
        {"an answered chat outranks busy CPU", {process(cx, Strength::strong)}, {}, {},
         {verdict(cx, State::idle, chat)}, {}, Strength::presence, cx + "'s chat ends with a reply"},
        {"start-up outranks CPU and files", {process(cx, Strength::strong)}, {}, {session(cx)},
         {verdict(cx, State::idle, startUp)}, {}, Strength::presence, cx + " has just started and has had no turn yet"},
        {"start-up yields to a screen at work", {process(cx)}, {}, {},
         {verdict(cx, State::idle, startUp)}, {verdict(cx, State::working, screen)},
         Strength::strong, cx + " shows it is working"},
        {"a one-shot run outranks an idle screen", {process(cx)}, {}, {},
         {verdict(cx, State::working, oneShot)}, {verdict(cx, State::idle, screen)},
         Strength::strong, cx + " runs a one-shot prompt"},
        {"among equals the witness asked first", {process(cx)}, {}, {},
         {verdict(cx, State::working, screen)}, {verdict(cx, State::idle, screen)},
         Strength::strong, cx + " shows it is working"},
        {"a verdict about another agent leaves this one's merge alone", {process(cx, Strength::strong)}, {}, {},
         {verdict("Gemini CLI", State::idle, record)}, {}, Strength::strong, cx + " CPU"},
        {"no verdict: today's merge", {process(cx)}, {}, {session(cx)},
         {}, {}, Strength::strong, cx + " session"},
        {"a hook's turn outranks an idle screen where a cancel ends turns", {process(cx)}, {}, {},
         {}, {verdict(cx, State::idle, screen)}, Strength::strong, cx + " says it is working",
         {verdict(cx, State::working, hook)}},
        {"a hook's turn yields to an idle screen where a cancel sends no event", {process(cx)}, {}, {},
         {}, {verdict(cx, State::idle, screen)}, Strength::presence, cx + " shows it is idle",
         {verdict(cx, State::working, hookWithoutCancel)}},
        {"a hook's turn outranks an answered chat", {process(cx)}, {}, {},
         {verdict(cx, State::idle, chat)}, {}, Strength::strong, cx + " says it is working",
         {verdict(cx, State::working, hookWithoutCancel)}},
        {"the agent's record outranks a hook's turn", {process(cx)}, {}, {},
         {verdict(cx, State::idle, record)}, {}, Strength::presence, cx + " reports it is idle",
         {verdict(cx, State::working, hook)}}};
    // clang-format on
    for (const Case& c : cases) {
        ScriptedDetectors scripted;
        ScriptedWitness records, screens, hooks;
        ActivityDetector detector(scripted, scripted, scripted, {&records, &screens, &hooks});
        scripted.processSignals = c.processes;
        scripted.screenSignals = c.onScreen;
        scripted.sessionSignals = c.sessions;
        scripted.table = {{7, 1, 0.4, "/usr/bin/codex", "codex", 1234, std::nullopt}};
        records.verdicts = c.records;
        screens.verdicts = c.screens;
        hooks.verdicts = c.hooks;
        const auto merged = detector.detectPerApp(GuardSettings::defaults(), {}, 1000);
        const auto found = std::find_if(merged.begin(), merged.end(),
                                        [&](const ActivitySignal& s) { return s.appName == cx; });
        ASSERT_NE(found, merged.end()) << c.what;
        EXPECT_EQ(found->strength, c.strength) << c.what;
        EXPECT_EQ(found->reason, c.reason) << c.what;
        EXPECT_EQ(found->processPresent, true) << c.what;
        EXPECT_EQ(records.tableSeen, scripted.table) << "the witnesses see the pass's own table";
        // One pass, worked out once, is handed to every witness, and the agents it finds running
        // are those a witness would find on its own.
        EXPECT_EQ(records.passSeen, screens.passSeen) << c.what;
        EXPECT_EQ(records.passSeen, hooks.passSeen) << c.what;
        const auto alone = nodwarden::runningAgents(
            nodwarden::AgentResolver::make(GuardSettings::defaults()), scripted.table);
        ASSERT_EQ(alone.size(), 1U);
        EXPECT_EQ(hooks.runningSeen, std::vector<std::string>{alone.begin()->first}) << c.what;
    }
}

} // namespace
