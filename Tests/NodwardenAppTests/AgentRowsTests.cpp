#include <NodwardenApp/model/AgentRows.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenCore/detection/ActivityDetector.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace nodwarden::app {
namespace {

ActivitySignal signal(std::optional<std::string> name, SignalStrength strength,
                      std::string reason = {}, std::optional<std::string> matched = std::nullopt,
                      std::optional<int> sessions = std::nullopt) {
    ActivitySignal result;
    result.appName = std::move(name);
    result.strength = strength;
    result.reason = std::move(reason);
    result.matchedText = std::move(matched);
    result.sessionCount = sessions;
    return result;
}

std::vector<AgentStatusRow> rowsFor(const std::vector<ActivitySignal>& perApp,
                                    GuardStatus status = GuardStatus::watching) {
    return buildAgentRows(perApp, status, GuardSettings::defaults());
}

std::vector<std::string> namesOf(const std::vector<AgentStatusRow>& rows) {
    std::vector<std::string> names;
    for (const AgentStatusRow& row : rows) {
        names.push_back(row.name);
    }
    return names;
}

TEST(AgentRows, KeepsTheStrongestSignalPerNameWhicheverOrderTheyArrive) {
    const auto presence = signal("Zed", SignalStrength::presence, "Zed is running");
    const auto strong = signal("Zed", SignalStrength::strong, "", "Stop generating");
    const auto weak = signal("Zed", SignalStrength::weak, "Zed CPU 40%");
    for (const auto& perApp : std::vector<std::vector<ActivitySignal>>{
             {presence, strong}, {strong, presence}, {weak, strong, presence}}) {
        const auto rows = rowsFor(perApp);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].state, "working");
        EXPECT_EQ(rows[0].detail, "Stop generating");
    }
    // An equally strong later signal does not replace the first one.
    const auto rows = rowsFor({signal("Zed", SignalStrength::weak, "first reason"),
                               signal("Zed", SignalStrength::weak, "second reason")});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].detail, "first reason");
}

TEST(AgentRows, SignalsWithoutANameOrStrengthGiveNoRow) {
    EXPECT_TRUE(rowsFor({signal(std::nullopt, SignalStrength::strong, "CPU"),
                         signal("", SignalStrength::strong, "CPU"),
                         signal("Zed", SignalStrength::none, "nothing")})
                    .empty());
    // A `none` signal met first does not claim the name: a later presence still makes a row.
    const auto rows = rowsFor({signal("Zed", SignalStrength::none),
                               signal("Zed", SignalStrength::presence, "Zed is running")});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, "idle");
}

TEST(AgentRows, StateAndDetailFollowStrengthAndSessions) {
    struct Case {
        const char* label;
        ActivitySignal input;
        GuardStatus status;
        const char* state;
        bool isWorking;
        const char* detail;
    };
    const auto strong = SignalStrength::strong;
    const auto weak = SignalStrength::weak;
    const auto presence = SignalStrength::presence;
    const Case cases[] = {
        {"cli strong, two sessions", signal("Claude Code", strong, "x", "esc to interrupt", 2),
         GuardStatus::keepingAwake, "working", true, "2 sessions \u00B7 esc to interrupt"},
        {"cli strong, one session", signal("Claude Code", strong, "x", "esc to interrupt", 1),
         GuardStatus::keepingAwake, "working", true, "1 session \u00B7 esc to interrupt"},
        {"cli strong, zero sessions", signal("Claude Code", strong, "x", "esc to interrupt", 0),
         GuardStatus::keepingAwake, "working", true, "esc to interrupt"},
        {"cli strong, no count", signal("Claude Code", strong, "x", "esc to interrupt"),
         GuardStatus::keepingAwake, "working", true, "esc to interrupt"},
        {"non-cli never shows sessions", signal("Cursor", strong, "x", "Stop generating", 4),
         GuardStatus::keepingAwake, "working", true, "Stop generating"},
        {"strong without text uses cleaned reason",
         signal("Zed", strong, "Target app Zed is running"), GuardStatus::keepingAwake, "working",
         true, "Zed running"},
        {"strong with nothing reads active", signal("Zed", strong, "   "),
         GuardStatus::keepingAwake, "working", true, "active"},
        {"weak", signal("Codex CLI", weak, "Codex CLI CPU 35% over threshold"),
         GuardStatus::keepingAwake, "probably working", true, "CPU activity"},
        {"weak with sessions", signal("Codex CLI", weak, "Accessibility text", std::nullopt, 3),
         GuardStatus::keepingAwake, "probably working", true, "3 sessions \u00B7 UI text signal"},
        {"presence cli", signal("Aider", presence, "Aider is running"), GuardStatus::watching,
         "idle", false, "session open"},
        {"presence app", signal("Zed", presence, "Zed is running"), GuardStatus::watching, "idle",
         false, "running"},
        {"presence cli with sessions", signal("Aider", presence, "r", std::nullopt, 5),
         GuardStatus::watching, "idle", false, "5 sessions"},
        {"grace lead", signal("Zed", presence, "Zed is running"), GuardStatus::idleGrace, "grace",
         false, "recent activity"},
        {"grace lead with sessions", signal("Claude Code", presence, "r", std::nullopt, 2),
         GuardStatus::idleGrace, "grace", false, "2 sessions"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const auto rows = rowsFor({c.input}, c.status);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].state, c.state);
        EXPECT_EQ(rows[0].isWorking, c.isWorking);
        EXPECT_EQ(rows[0].detail, c.detail);
    }
}

TEST(AgentRows, OnlyTheLeadAgentReadsAsGraceDuringIdleGrace) {
    // Equal strengths: the first agent met leads, whatever the names' sort order.
    const auto rows = rowsFor({signal("Zed", SignalStrength::presence, "Zed is running"),
                               signal("Aider", SignalStrength::presence, "Aider is running"),
                               signal("Cursor", SignalStrength::presence, "Cursor is running")},
                              GuardStatus::idleGrace);
    ASSERT_EQ(namesOf(rows), (std::vector<std::string>{"Zed", "Aider", "Cursor"}));
    EXPECT_EQ(rows[0].state, "grace");
    EXPECT_EQ(rows[1].state, "idle");
    EXPECT_EQ(rows[2].state, "idle");
    // Waiting out the grace is nobody's work.
    EXPECT_EQ(PanelTexts::agentSummary(rows), "0 working");

    // The stronger agent leads even when met later; nobody reads grace outside idle grace.
    const std::vector<ActivitySignal> mixed = {signal("Aider", SignalStrength::presence),
                                               signal("Zed", SignalStrength::weak, "CPU"),
                                               signal("Cursor", SignalStrength::presence)};
    for (const AgentStatusRow& row : rowsFor(mixed, GuardStatus::idleGrace)) {
        EXPECT_NE(row.state, "grace") << row.name;
    }
    for (const AgentStatusRow& row :
         rowsFor({signal("Zed", SignalStrength::presence)}, GuardStatus::keepingAwake)) {
        EXPECT_EQ(row.state, "idle");
    }
}

TEST(AgentRows, SortsWorkingFirstThenByCodePoint) {
    const auto rows = rowsFor({signal("beta", SignalStrength::strong, "", "go"),
                               signal("Alpha", SignalStrength::presence),
                               signal("alpha", SignalStrength::weak, "CPU")});
    EXPECT_EQ(namesOf(rows), (std::vector<std::string>{"alpha", "beta", "Alpha"}));

    // Non-ASCII names sort by code point: U+00C9 comes after every ASCII letter.
    const auto accented = rowsFor({signal("\u00C9mile", SignalStrength::weak, "CPU"),
                                   signal("zed", SignalStrength::weak, "CPU"),
                                   signal("Zed", SignalStrength::weak, "CPU")});
    EXPECT_EQ(namesOf(accented), (std::vector<std::string>{"Zed", "zed", "\u00C9mile"}));
}

TEST(AgentRows, KeepsTheFirstTwelveRowsAfterSorting) {
    std::vector<ActivitySignal> perApp;
    for (char letter = 'o'; letter >= 'a'; --letter) { // 15 agents, fed in reverse order
        const bool working = letter >= 'm';            // m, n, o work
        perApp.push_back(signal(std::string("agent-") + letter,
                                working ? SignalStrength::strong : SignalStrength::presence, "",
                                "busy"));
    }
    const auto rows = rowsFor(perApp);
    ASSERT_EQ(rows.size(), maxAgentRows);
    std::vector<std::string> expected = {"agent-m", "agent-n", "agent-o"};
    for (char letter = 'a'; letter <= 'i'; ++letter) {
        expected.push_back(std::string("agent-") + letter);
    }
    EXPECT_EQ(namesOf(rows), expected);
}

TEST(AgentRows, IconsComeFromTheWatchedProfiles) {
    struct Case {
        const char* name;
        bool browsersEnabled;
        std::optional<std::string> bundleID;
        const char* symbol;
    };
    const Case cases[] = {
        {"Claude Code", false, "com.anthropic.claudefordesktop", "terminal"}, // icon bundle wins
        {"Codex CLI", false, std::nullopt, "terminal"},
        {"ChatGPT", false, "com.openai.codex", "sparkles"}, // first bundle identifier
        {"Cursor", false, "com.todesktop.230313mzl4w4u92",
         "chevron.left.forwardslash.chevron.right"},
        {"Google Chrome", true, "com.google.chrome", "globe"},
        {"Google Chrome", false, std::nullopt, "app.dashed"}, // browsers not watched
        {"MyTool", false, std::nullopt, "app.dashed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GuardSettings settings{.enableBrowsers = c.browsersEnabled};
        const auto rows = buildAgentRows({signal(c.name, SignalStrength::presence)},
                                         GuardStatus::watching, settings);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].bundleID, c.bundleID);
        EXPECT_EQ(rows[0].symbol, c.symbol);
    }

    GuardSettings withoutZed{.disabledAgentIDs = {"zed"}};
    const auto rows = buildAgentRows({signal("Zed", SignalStrength::presence)},
                                     GuardStatus::watching, withoutZed);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].symbol, "app.dashed");
    EXPECT_FALSE(rows[0].bundleID);
}

// Each witness's verdict carries a code the program words on its own; in English those words are
// the library's sentence, so a verdict given the wrong code (or a code without words) reads wrong.
TEST(AgentRows, EveryVerdictsCodeReadsAsItsSentenceInEnglish) {
    using Source = AgentVerdictSource;
    const Source sources[] = {
        Source::statusRecord, Source::screen,    Source::conversation, Source::oneShotRun,
        Source::startUp,      Source::lock,      Source::hook,         Source::hookWithoutCancel,
        Source::toolRun,      Source::leftBehind};
    std::set<ReasonCode> codes;
    for (const Source source : sources) {
        for (const AgentWorkState state :
             {AgentWorkState::working, AgentWorkState::idle, AgentWorkState::waiting}) {
            const AgentVerdict verdict{"Claude Code", state, source};
            ActivitySignal given;
            given.appName = verdict.appName;
            given.reason = ActivityDetector::verdictReason(verdict);
            given.reasonCode = ActivityDetector::verdictReasonCode(verdict);
            SCOPED_TRACE(given.reason);
            EXPECT_NE(given.reasonCode, ReasonCode::unspecified);
            EXPECT_EQ(ReasonTexts::signal(given, PlatformWording::linuxDesktop()).toStdString(),
                      given.reason);
            codes.insert(given.reasonCode);
        }
    }
    // One code per sentence: working and idle apart, every wait alike.
    std::set<std::string> sentences;
    for (const Source source : sources) {
        for (const AgentWorkState state : {AgentWorkState::working, AgentWorkState::idle}) {
            sentences.insert(ActivityDetector::verdictReason({"A", state, source}));
        }
    }
    EXPECT_EQ(codes.size(), sentences.size() + 1);

    const ActivitySignal outOfReach{SignalStrength::presence,
                                    "Codex CLI",
                                    ActivityDetector::outOfReachReason("Codex CLI"),
                                    std::nullopt,
                                    std::nullopt,
                                    true,
                                    ReasonCode::outOfReach,
                                    {}};
    EXPECT_EQ(ReasonTexts::signal(outOfReach, PlatformWording::linuxDesktop()).toStdString(),
              outOfReach.reason);
}

} // namespace
} // namespace nodwarden::app
