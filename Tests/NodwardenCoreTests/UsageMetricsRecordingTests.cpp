#include "UsageMetricsTestSupport.hpp"

#include <NodwardenCore/metrics/UsageMetrics.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace nodwarden;
using namespace stayloom::testing;
using nlohmann::json;

namespace {

const ProgramTimeZone utcForThisProgram("UTC");

const Date startDate = utcDate(2026, 3, 14, 9, 0);
const std::string todayKey = "2026-03-14";

Tick withLid(LidState lid) {
    Tick tick;
    tick.lid = lid;
    return tick;
}

// The machine is still held through the grace period while the agent shows no work.
Tick graceTick(std::optional<bool> processAlive = std::nullopt) {
    Tick tick;
    tick.signal = SignalStrength::presence;
    tick.rung = KeepAwakeTrigger::idleGrace;
    tick.processAlive = processAlive;
    return tick;
}

Tick withAgent(const char* agent) {
    Tick tick;
    tick.agent = agent;
    return tick;
}

const DayBucket& today(const UsageMetrics& m) {
    return m.days().at(todayKey);
}

TEST(UsageMetricsRecording, FirstTickOnlyRemembersItsTime) {
    const UsageMetrics m = play(UsageMetrics(0), {Tick{}}, startDate);
    EXPECT_EQ(m.lastTickAt(), startDate);
    EXPECT_TRUE(m.days().empty());
    EXPECT_FALSE(m.sessionStartedAt());
    EXPECT_FALSE(m.lastActiveSignalAt());
}

TEST(UsageMetricsRecording, UntrustworthyGapsAreDroppedAndInterruptTheSession) {
    struct Case {
        const char* name;
        double gap;
        bool counted;
        std::int64_t dropped;
    };
    const std::vector<Case> cases = {
        {"exactly ten seconds", 10, true, 0},       {"just over ten seconds", 10.001, false, 1},
        {"a long sleep", 3600, false, 1},           {"the same time again", 0, false, 0},
        {"the clock went backwards", -5, false, 0}, {"a thousandth", 0.001, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Tick 3 opens the session and counts 3 protected seconds.
        UsageMetrics m = play(UsageMetrics(0), {Tick{.at = 0}, Tick{.at = 3}}, startDate);
        m = play(std::move(m), {Tick{.at = 3 + c.gap}}, startDate);
        EXPECT_EQ(m.lastTickAt(), startDate + 3 + c.gap);
        EXPECT_EQ(m.wakeGapTicksDropped(), c.dropped);
        if (c.counted) {
            // Dates near 8e8 carry about 1e-7 s of resolution.
            EXPECT_NEAR(today(m).protectedSeconds, 3 + c.gap, 1e-6);
            EXPECT_NEAR(m.sessionProtectedSeconds(), 3 + c.gap, 1e-6);
            EXPECT_EQ(m.sessionStartedAt(), startDate + 3);
            EXPECT_FALSE(m.lastCloseReason());
        } else {
            EXPECT_DOUBLE_EQ(today(m).protectedSeconds, 3);
            EXPECT_FALSE(m.sessionStartedAt());
            EXPECT_EQ(m.lastCloseReason(), SessionCloseReason::interrupted);
            EXPECT_EQ(today(m).totalSessions, 1);
            ASSERT_TRUE(m.lastRun());
            EXPECT_EQ(m.lastRun()->endedAt(), startDate + 3); // the previous tick, not this one
            EXPECT_FALSE(m.lastRun()->finishedNormally());
            EXPECT_EQ(m.sessionRunSeconds(), 0);
        }
        // The next regular tick counts again and, after an interruption, opens a new session.
        const double protectedBefore = today(m).protectedSeconds;
        m = play(std::move(m), {Tick{.at = 3 + c.gap + 3}}, startDate);
        EXPECT_NEAR(today(m).protectedSeconds, protectedBefore + 3, 1e-6);
        EXPECT_TRUE(m.sessionStartedAt());
    }
}

TEST(UsageMetricsRecording, LidChangesInsideOneSessionSplitTheTime) {
    const auto ticks = ticksEvery(3, 0, 60, withLid(LidState::open)) +
                       ticksEvery(3, 63, 90, withLid(LidState::closed)) +
                       ticksEvery(3, 93, 105, withLid(LidState::unknown));
    const UsageMetrics m = play(UsageMetrics(0), ticks, startDate);
    EXPECT_DOUBLE_EQ(today(m).keptAwakeSeconds, 75);
    EXPECT_DOUBLE_EQ(today(m).protectedSeconds, 30);
    EXPECT_DOUBLE_EQ(today(m).protectedSecondsByAgent.at("Claude Code"), 30);
    EXPECT_DOUBLE_EQ(m.sessionKeptAwakeSeconds(), 75);
    EXPECT_DOUBLE_EQ(m.sessionProtectedSeconds(), 30);
    EXPECT_DOUBLE_EQ(m.longestProtectedRunSeconds(), 30);
    EXPECT_EQ(m.longestProtectedRunAgent(), "Claude Code");
    EXPECT_EQ(m.longestProtectedRunDate(), todayKey);
    EXPECT_EQ(m.sessionRunSeconds(), 0);
    EXPECT_TRUE(m.sessionQualified());
    EXPECT_EQ(m.sessionStartedAt(), startDate + 3);
}

TEST(UsageMetricsRecording, IdleGraceClosesOnTheFirstTickAtOrAfterIt) {
    const auto active = ticksEvery(3, 0, 30);
    UsageMetrics m = play(UsageMetrics(0), active + ticksEvery(3, 33, 117, graceTick()), startDate);
    m = play(std::move(m), {[] {
                 Tick t = graceTick();
                 t.at = 119.9;
                 return t;
             }()},
             startDate);
    EXPECT_EQ(m.sessionStartedAt(), startDate + 3) << "89.9 seconds after the last active tick";
    EXPECT_FALSE(m.lastRun());

    Tick closing = graceTick();
    closing.at = 120;
    m = play(std::move(m), {closing}, startDate);
    EXPECT_FALSE(m.sessionStartedAt());
    EXPECT_FALSE(m.lastActiveSignalAt());
    EXPECT_EQ(m.lastCloseReason(), SessionCloseReason::idle);
    EXPECT_EQ(m.lastRun(), LastRunSummary("Claude Code", startDate + 120, 27, 30, 0, true));
    EXPECT_EQ(today(m).totalSessions, 1);
    EXPECT_EQ(today(m).sessionsSaved, 1);
    EXPECT_EQ(today(m).sessionsByAgent.at("Claude Code"), 1);
    EXPECT_EQ(m.sessionProtectedSeconds(), 0);
    EXPECT_FALSE(m.sessionQualified());
}

TEST(UsageMetricsRecording, OnlyAProcessKnownGoneEndsTheSessionEarly) {
    struct Case {
        const char* name;
        std::optional<bool> alive;
        double at;
        std::optional<SessionCloseReason> closedAs;
    };
    const std::vector<Case> cases = {
        {"unknown process state", std::nullopt, 33, std::nullopt},
        {"process still running", true, 33, std::nullopt},
        {"process gone", false, 33, SessionCloseReason::vanished},
        {"gone after the grace ran out", false, 120, SessionCloseReason::idle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto waiting = ticksEvery(3, 33, c.at - 3, graceTick());
        Tick last = graceTick(c.alive);
        last.at = c.at;
        const UsageMetrics m = play(
            UsageMetrics(0), ticksEvery(3, 0, 30) + waiting + std::vector<Tick>{last}, startDate);
        EXPECT_EQ(m.lastCloseReason(), c.closedAs);
        EXPECT_EQ(m.sessionStartedAt().has_value(), !c.closedAs.has_value());
        if (c.closedAs) {
            ASSERT_TRUE(m.lastRun());
            EXPECT_EQ(m.lastRun()->endedAt(), startDate + c.at);
            EXPECT_EQ(m.lastRun()->workedSeconds(), 27);
            EXPECT_EQ(m.lastRun()->finishedNormally(), c.closedAs == SessionCloseReason::idle);
        }
    }
}

TEST(UsageMetricsRecording, SessionThatNeverKeptAwakeLeavesLastRunAlone) {
    UsageMetrics m = play(UsageMetrics(0),
                          ticksEvery(3, 0, 30) + ticksEvery(10, 40, 120, graceTick()), startDate);
    ASSERT_TRUE(m.lastRun());
    const LastRunSummary earlier = *m.lastRun();

    Tick unheld;
    unheld.keepAwake = false;
    unheld.rung = KeepAwakeTrigger::none;
    unheld.lid = LidState::open;
    unheld.agent = "Aider";
    Tick quiet = unheld;
    quiet.signal = SignalStrength::none;
    m = play(std::move(m), ticksEvery(3, 123, 150, unheld) + ticksEvery(10, 160, 240, quiet),
             startDate);

    EXPECT_FALSE(m.sessionStartedAt());
    EXPECT_EQ(m.lastCloseReason(), SessionCloseReason::idle);
    EXPECT_EQ(today(m).totalSessions, 2);
    EXPECT_EQ(today(m).sessionsSaved, 1);
    EXPECT_EQ(today(m).sessionsByAgent.count("Aider"), 0u);
    EXPECT_EQ(m.lastRun(), earlier);
    EXPECT_DOUBLE_EQ(today(m).keptAwakeSeconds, 0);
}

TEST(UsageMetricsRecording, ManualTimeNeitherOpensSessionsNorExtendsProtectedStretches) {
    Tick manual;
    manual.rung = KeepAwakeTrigger::manual;
    manual.signal = SignalStrength::none;
    Tick plugged = manual;
    plugged.rung = KeepAwakeTrigger::pluggedInUnlimited;

    const UsageMetrics quiet = play(
        UsageMetrics(0), ticksEvery(3, 0, 12, manual) + ticksEvery(2, 14, 20, plugged), startDate);
    EXPECT_DOUBLE_EQ(today(quiet).manualSeconds, 12);
    EXPECT_DOUBLE_EQ(today(quiet).pluggedInUnlimitedSeconds, 8);
    EXPECT_FALSE(quiet.sessionStartedAt());
    EXPECT_EQ(quiet.longestProtectedRunSeconds(), 0);

    const UsageMetrics broken = play(
        UsageMetrics(0),
        ticksEvery(3, 0, 9) + ticksEvery(3, 12, 15, manual) + ticksEvery(3, 18, 21), startDate);
    EXPECT_DOUBLE_EQ(broken.longestProtectedRunSeconds(), 9);
    EXPECT_DOUBLE_EQ(broken.sessionRunSeconds(), 6);
    EXPECT_DOUBLE_EQ(today(broken).manualSeconds, 6);
    EXPECT_DOUBLE_EQ(today(broken).protectedSeconds, 15);
}

TEST(UsageMetricsRecording, LongestStretchNamesTheAgentOfItsLatestExtension) {
    Tick codex = withAgent("Codex CLI");
    Tick gemini = withAgent("Gemini CLI");
    const auto ticks = ticksEvery(3, 0, 30) + ticksEvery(3, 33, 33, withLid(LidState::open)) +
                       ticksEvery(3, 36, 78, codex) +
                       ticksEvery(3, 81, 81, withLid(LidState::open)) +
                       ticksEvery(3, 84, 126, gemini);
    const UsageMetrics m = play(UsageMetrics(0), ticks, startDate);
    // Stretches of 30, 45 and again 45 seconds: only a strictly longer one replaces the record.
    EXPECT_DOUBLE_EQ(m.longestProtectedRunSeconds(), 45);
    EXPECT_EQ(m.longestProtectedRunAgent(), "Codex CLI");
    EXPECT_EQ(m.sessionAgentID(), "Claude Code") << "a session keeps the agent it opened for";
    EXPECT_EQ(today(m).protectedSecondsByAgent,
              (std::map<std::string, double>{
                  {"Claude Code", 30}, {"Codex CLI", 45}, {"Gemini CLI", 45}}));
}

TEST(UsageMetricsRecording, AgentlessProtectedTimeIsCountedButNotAttributed) {
    Tick anonymous;
    anonymous.agent = std::nullopt;
    const UsageMetrics m = play(UsageMetrics(0), ticksEvery(3, 0, 30, anonymous), startDate);
    EXPECT_DOUBLE_EQ(today(m).protectedSeconds, 30);
    EXPECT_TRUE(today(m).protectedSecondsByAgent.empty());
    EXPECT_FALSE(m.longestProtectedRunAgent());
    EXPECT_FALSE(m.sessionAgentID());
}

TEST(UsageMetricsRecording, TimesThatAreNotNumbersAreIgnored) {
    const UsageMetrics before = play(UsageMetrics(0), ticksEvery(3, 0, 9), startDate);
    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()}) {
        const UsageMetrics after = UsageMetrics::recording(
            before, true, KeepAwakeTrigger::activeSignal, SignalStrength::strong, LidState::closed,
            "Claude Code", 90, false, bad);
        EXPECT_EQ(after, before) << bad;
    }
}

// The ledger line of the account `document` describes, closed as given.
std::string lineFor(json document, SessionCloseReason reason = SessionCloseReason::idle,
                    Date closedAt = startDate, std::optional<bool> alive = true,
                    std::optional<std::int64_t> fileAge = std::nullopt,
                    LidState lid = LidState::closed) {
    document["installDate"] = 0.0;
    return UsageMetrics::runLogLine(accountFrom(document), reason, closedAt, alive, fileAge, lid);
}

std::string agentOf(const std::string& line) {
    const auto open = line.find(" agent=\"");
    const auto close = line.find("\" started=");
    if (open == std::string::npos || close == std::string::npos) {
        return "<no agent piece>";
    }
    return line.substr(open + 8, close - open - 8);
}

TEST(UsageMetricsRecording, LedgerLineReadsAsDocumented) {
    const Date started = utcDate(2026, 3, 14, 9, 31, 40);
    const std::string line = lineFor({{"sessionStartedAt", started},
                                      {"lastActiveSignalAt", started + 1745.9},
                                      {"sessionAgentID", "Claude Code"},
                                      {"sessionProtectedSeconds", 1210.99},
                                      {"sessionKeptAwakeSeconds", 520.5}},
                                     SessionCloseReason::idle, utcDate(2026, 3, 14, 10, 2, 11.7));
    EXPECT_EQ(line, "ts=2026-03-14T10:02:11Z agent=\"Claude Code\" started=2026-03-14T09:31:40Z "
                    "worked_s=1745 protected_s=1210 kept_awake_s=520 close=idle "
                    "process_at_close=alive session_file_age_s=- lid=closed");
}

TEST(UsageMetricsRecording, LedgerLineOfARecordedSession) {
    const UsageMetrics open = play(UsageMetrics(0),
                                   ticksEvery(3, 0, 30, withLid(LidState::open)) +
                                       ticksEvery(3, 33, 42) + ticksEvery(10, 52, 92, graceTick()),
                                   startDate);
    const std::string line = UsageMetrics::runLogLine(open, SessionCloseReason::vanished,
                                                      startDate + 95, false, 7, LidState::unknown);
    EXPECT_EQ(line, "ts=2026-03-14T09:01:35Z agent=\"Claude Code\" started=2026-03-14T09:00:03Z "
                    "worked_s=39 protected_s=12 kept_awake_s=30 close=vanished "
                    "process_at_close=gone session_file_age_s=7 lid=unknown");
}

TEST(UsageMetricsRecording, LedgerLineWithoutASessionUsesDashes) {
    EXPECT_EQ(lineFor(json::object(), SessionCloseReason::interrupted, -0.25, std::nullopt, -3,
                      LidState::open),
              "ts=2000-12-31T23:59:59Z agent=\"-\" started=- worked_s=0 protected_s=0 "
              "kept_awake_s=0 close=interrupted process_at_close=unknown session_file_age_s=-3 "
              "lid=open");
    // Worked time never runs backwards from the start.
    const std::string backwards =
        lineFor({{"sessionStartedAt", 100.0}, {"lastActiveSignalAt", 40.0}});
    EXPECT_NE(backwards.find(" worked_s=0 "), std::string::npos) << backwards;
}

// The ledger line of a session recorded for `agent` and still open.
std::string lineForRecordedAgent(const std::string& agent) {
    Tick tick = withAgent(agent.c_str());
    Tick next = tick;
    next.at = 3;
    const UsageMetrics m = play(UsageMetrics(0), {tick, next}, startDate);
    return UsageMetrics::runLogLine(m, SessionCloseReason::idle, startDate, true, std::nullopt,
                                    LidState::closed);
}

TEST(UsageMetricsRecording, LedgerAgentNamesAreCleanedUp) {
    const std::string hundred(100, 'x');
    std::string accented;   // "é" precomposed: one character, two bytes
    std::string decomposed; // "e" + combining acute: one character, two code points
    std::string flags;      // regional-indicator pairs: one character, eight bytes
    for (int i = 0; i < 70; ++i) {
        accented += "\xC3\xA9";
        decomposed += "e\xCC\x81";
        flags += "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    }
    auto first = [](const std::string& text, std::size_t bytes) { return text.substr(0, bytes); };
    struct Case {
        std::optional<std::string> agent;
        std::string written;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "-"},
        {"", "-"},
        {"///", "-"},
        {"Claude Code", "Claude Code"},
        {"openai/Codex CLI", "Codex CLI"},
        {"a//b/", "b"},
        {"Say \"hi\"", "Say 'hi'"},
        {"tools/\"quoted\"/", "'quoted'"},
        {hundred, std::string(64, 'x')},
        {accented, first(accented, 128)},
        {decomposed, first(decomposed, 64 * 3)},
        {flags, first(flags, 64 * 8)},
        {"Agent\nts=2000-01-01T00:00:00Z\r", "Agent ts=2000-01-01T00:00:00Z "},
        {"bad\xFF", "bad\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        json document = json::object();
        if (c.agent) {
            document["sessionAgentID"] = *c.agent;
        }
        // Invalid UTF-8 cannot travel through the JSON text, so that case is recorded instead.
        const std::string line = c.agent && !UnicodeText::isValidUTF8(*c.agent)
                                     ? lineForRecordedAgent(*c.agent)
                                     : lineFor(document);
        EXPECT_EQ(agentOf(line), c.written) << c.agent.value_or("<absent>");
        EXPECT_TRUE(UnicodeText::isValidUTF8(line));
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
}

} // namespace
