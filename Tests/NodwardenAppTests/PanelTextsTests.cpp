#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden::app {
namespace {

using namespace PanelTexts;
using nlohmann::json;

constexpr Date now = 800'000'000;
constexpr double hour = 3600;

AgentStatusRow row(std::string name, bool working) {
    return AgentStatusRow{std::move(name), "detail",     working ? "working" : "idle",
                          working,         std::nullopt, "terminal"};
}

json day(double protectedSeconds, int sessionsSaved) {
    return {{"protectedSeconds", protectedSeconds},
            {"keptAwakeSeconds", 0},
            {"manualSeconds", 0},
            {"pluggedInUnlimitedSeconds", 0},
            {"sessionsSaved", sessionsSaved},
            {"totalSessions", sessionsSaved},
            {"protectedSecondsByAgent", json::object()},
            {"sessionsByAgent", json::object()}};
}

UsageMetrics metricsFrom(json document) {
    document["installDate"] = 0;
    const auto metrics = UsageMetrics::fromJSON(document.dump());
    EXPECT_TRUE(metrics) << document.dump();
    return metrics.value_or(UsageMetrics(0));
}

struct LastRun {
    std::optional<std::string> agent;
    double endedAgo;
    double worked;
    double protectedSeconds;
    double keptAwake;
    bool finishedNormally;
};

UsageMetrics metricsWithRun(const LastRun& run) {
    json lastRun = {{"endedAt", now - run.endedAgo},
                    {"workedSeconds", run.worked},
                    {"protectedSeconds", run.protectedSeconds},
                    {"keptAwakeSeconds", run.keptAwake},
                    {"finishedNormally", run.finishedNormally}};
    if (run.agent) {
        lastRun["agentDisplayName"] = *run.agent;
    }
    return metricsFrom({{"lastRun", lastRun}});
}

TEST(PanelTexts, AgentSummaryCountsWorkingRows) {
    struct Case {
        std::vector<AgentStatusRow> rows;
        int working;
        const char* summary;
    };
    const Case cases[] = {
        {{}, 0, "none detected"},
        {{row("Aider", false), row("Zed", false)}, 0, "0 working"},
        {{row("Zed", true), row("Aider", false)}, 1, "1 working"},
        {{row("Zed", true), row("Aider", false), row("Cursor", true)}, 2, "2 working"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(workingAgentCount(c.rows), c.working);
        EXPECT_EQ(agentSummary(c.rows), c.summary);
    }
}

TEST(PanelTexts, IconNamesFollowTheStatus) {
    struct Case {
        GuardStatus status;
        const char* icon;
        const char* glyph;
    };
    const Case cases[] = {
        {GuardStatus::off, "moon.zzz", "moon.zzz.fill"},
        {GuardStatus::watching, "eye", "eye.fill"},
        {GuardStatus::keepingAwake, "bolt.fill", "bolt.fill"},
        {GuardStatus::idleGrace, "hourglass", "hourglass"},
        {GuardStatus::batterySafety, "battery.25", "exclamationmark.triangle.fill"},
        {GuardStatus::thermalSafety, "thermometer.high", "thermometer.high"},
        {GuardStatus::pluggedInUnlimited, "powerplug.fill", "powerplug.fill"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.status)));
        EXPECT_EQ(statusIconName(c.status), c.icon);
        EXPECT_EQ(heroGlyph(c.status), c.glyph);
    }
}

TEST(PanelTexts, LidClosedWarningOnlyWhileProtectionIsMissingAndNothingIsInFlight) {
    for (int bits = 0; bits < 16; ++bits) {
        const bool wanted = bits & 1, preventing = bits & 2, engaged = bits & 4,
                   inFlight = bits & 8;
        const auto warning = lidClosedWarning(wanted, preventing, engaged, inFlight);
        EXPECT_EQ(warning.has_value(), wanted && preventing && !engaged && !inFlight)
            << "wanted=" << wanted << " preventing=" << preventing << " engaged=" << engaged
            << " inFlight=" << inFlight;
    }
    EXPECT_EQ(lidClosedWarning(true, true, false, false),
              "Lid-closed protection is NOT active \xE2\x80\x94 macOS needs your admin password. "
              "Your Mac stays awake only while the lid is open. Turn \xE2\x80\x9C"
              "Keep awake with the lid closed\xE2\x80\x9D off and on in Settings, then approve "
              "the prompt.");
}

TEST(PanelTexts, ElapsedShortTruncatesWholeSeconds) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0s"},       {-5, "0s"},      {-0.5, "0s"},      {45, "45s"},          {59.9, "59s"},
        {60, "1m"},      {719.9, "11m"},  {3599.9, "59m"},   {3600, "1h 0m"},      {3659, "1h 0m"},
        {3660, "1h 1m"}, {7500, "2h 5m"}, {90000, "25h 0m"}, {std::nan(""), "0s"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(elapsedShort(c.seconds), c.text) << c.seconds;
    }
}

TEST(PanelTexts, CompactDurationRoundsHalvesAwayFromZero) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "<1m"},      {59.4, "<1m"},   {59.5, "1m"},   {-30, "<1m"},          {-59.5, "<1m"},
        {3540, "59m"},   {3599.4, "59m"}, {3599.5, "1h"}, {3600, "1h"},          {3659.4, "1h"},
        {3660, "1h 1m"}, {3900, "1h 5m"}, {36000, "10h"}, {std::nan(""), "<1m"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compactDuration(c.seconds), c.text) << c.seconds;
    }
}

TEST(PanelTexts, LengthsInWordsTruncateAsTheLedgerAndCountdownsRoundUp) {
    const struct {
        double seconds;
        const char* words;
        const char* countdown;
    } cases[] = {
        {0, "0 s", "0:00"},
        {-3, "0 s", "0:00"},
        {0.2, "0 s", "0:01"},
        {35.9, "35 s", "0:36"},
        {60, "1 min", "1:00"},
        {90, "1 min 30 s", "1:30"},
        {78, "1 min 18 s", "1:18"},
        {3599.5, "59 min 59 s", "1:00:00"},
        {3600, "1 h", "1:00:00"},
        {3725, "1 h 2 min", "1:02:05"},
        {std::nan(""), "0 s", "0:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(durationWords(c.seconds), c.words) << c.seconds;
        EXPECT_EQ(countdown(c.seconds), c.countdown) << c.seconds;
    }
    EXPECT_EQ(graceCountdown(77.5), "sleeps in 1:18");
    // A timed keep-awake's end on the clock (tests run in UTC), and what is left of it.
    EXPECT_EQ(timedKeepAwakeLeft(dateFromUnixTime(1'800'000'000),
                                 dateFromUnixTime(1'800'000'000) - 3540.5),
              "until 08:00 · 1 h left");
    EXPECT_EQ(timeLeft(45.2), "46 s");
}

TEST(PanelTexts, RelativeTimeCountsWholeUnitsBack) {
    const struct {
        double ago;
        const char* text;
    } cases[] = {
        {0, "just now"},          {59.9, "just now"},
        {-100, "just now"},       {60, "1m ago"},
        {3599, "59m ago"},        {3600, "1h ago"},
        {86399, "23h ago"},       {86400, "yesterday"},
        {36 * hour, "yesterday"}, {48 * hour - 1, "yesterday"},
        {48 * hour, "2d ago"},    {50 * hour, "2d ago"},
        {30 * 86400, "30d ago"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relativeTime(now - c.ago, now), c.text) << c.ago;
    }
    EXPECT_EQ(relativeTime(std::nan(""), now), "just now");
}

TEST(PanelTexts, FormattersStayDefinedForValuesBeyondAnyRealDuration) {
    // Converting an infinite or huge double to an integer is undefined; the formatters clamp
    // first, so such input reads like the largest duration they handle.
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(elapsedShort(infinity), elapsedShort(1e300));
    EXPECT_EQ(compactDuration(infinity), compactDuration(1e300));
    EXPECT_EQ(relativeTime(-infinity, now), relativeTime(-1e300, now));
    EXPECT_EQ(elapsedShort(-infinity), "0s");
    EXPECT_EQ(compactDuration(-infinity), "<1m");
    EXPECT_EQ(elapsedShort(1e300).back(), 'm');
    EXPECT_NE(compactDuration(1e300), "<1m");
    EXPECT_NE(relativeTime(-1e300, now), "just now");
}

TEST(PanelTexts, LastRunLines) {
    const struct {
        const char* label;
        LastRun run;
        const char* agent;
        const char* detail;
    } cases[] = {
        {"protected all along",
         {"Claude Code", 2 * hour, 3900, 3900, 0, true},
         "Claude Code ran 1 h 5 min",
         "protected the whole run \u00B7 2h ago"},
        {"no agent name",
         {std::nullopt, 30, 40, 40, 0, true},
         "An agent ran 40 s",
         "protected the whole run \u00B7 just now"},
        {"mostly lid open",
         {"Zed", 600, 1000, 100, 800, true},
         "Zed ran 16 min 40 s",
         "stayed awake the whole run \u00B7 10m ago"},
        {"exactly nine tenths",
         {"Zed", 600, 1000, 450, 450, true},
         "Zed ran 16 min 40 s",
         "protected the whole run \u00B7 10m ago"},
        {"short of nine tenths",
         {"Zed", 600, 1000, 450, 449, true},
         "Zed ran 16 min 40 s",
         "protected \u00B7 10m ago"},
        {"interrupted",
         {"Aider", 36 * hour, 7200, 0, 7200, false},
         "Aider ran 2 h",
         "stayed awake \u00B7 yesterday"},
        {"nothing worked",
         {"Aider", 50 * hour, 0, 0, 0, true},
         "Aider ran 0 s",
         "protected \u00B7 2d ago"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const UsageMetrics metrics = metricsWithRun(c.run);
        EXPECT_EQ(panelLastRunAgent(metrics), c.agent);
        EXPECT_EQ(panelLastRunDetail(metrics, now), c.detail);
    }
    const UsageMetrics noRun(0);
    EXPECT_EQ(panelLastRunAgent(noRun), "");
    EXPECT_EQ(panelLastRunDetail(noRun, now), "");
}

TEST(PanelTexts, TrulySavedLineSumsEveryDay) {
    const struct {
        const char* label;
        json days;
        const char* text;
    } cases[] = {
        {"no days", json::object(), "Close the lid on a run to bank your first save"},
        {"sessions but no protected time",
         {{"2026-01-01", day(0, 2)}},
         "Close the lid on a run to bank your first save"},
        {"one sleep", {{"2026-01-01", day(5400, 1)}}, "1.5h truly saved \u00B7 1 sleep stopped"},
        {"over two days",
         {{"2026-01-01", day(3600, 1)}, {"2026-01-02", day(5400, 2)}},
         "2.5h truly saved \u00B7 3 sleeps stopped"},
        {"none saved yet",
         {{"2026-01-01", day(360, 0)}},
         "0.1h truly saved \u00B7 0 sleeps stopped"},
        {"rounds to one decimal",
         {{"2026-01-01", day(4000, 12)}},
         "1.1h truly saved \u00B7 12 sleeps stopped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(panelTrulySavedText(metricsFrom({{"days", c.days}}), PlatformWording::macOS())
                      .toStdString(),
                  c.text);
    }
}

} // namespace
} // namespace nodwarden::app
