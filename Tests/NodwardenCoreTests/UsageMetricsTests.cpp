#include "UsageMetricsTestSupport.hpp"

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace nodwarden;
using namespace stayloom::testing;
using nlohmann::json;

namespace {

const ProgramTimeZone utcForThisProgram("UTC");

const Date install = utcDate(2026, 1, 2, 8, 30, 0.25);

// An account that went through every kind of change: closed sessions (one protected, one kept
// awake), an open session, a long gap and the longest protected stretch.
UsageMetrics lifeLikeAccount() {
    const Date start = utcDate(2026, 3, 14, 9, 0);
    Tick lidOpen;
    lidOpen.lid = LidState::open;
    Tick grace;
    grace.signal = SignalStrength::presence;
    grace.rung = KeepAwakeTrigger::idleGrace;
    Tick manual;
    manual.signal = SignalStrength::none;
    manual.rung = KeepAwakeTrigger::manual;
    manual.agent = std::nullopt;
    Tick otherAgent;
    otherAgent.agent = "Codex CLI";
    const auto ticks = ticksEvery(3, 0, 60) + ticksEvery(3, 63, 90, lidOpen) +
                       ticksEvery(5, 95, 200, grace) + ticksEvery(3, 203, 230, manual) +
                       ticksEvery(3, 400, 430, otherAgent);
    return play(UsageMetrics(install), ticks, start);
}

TEST(UsageMetrics, RawValuesRoundTripAndRejectOtherText) {
    for (const auto trigger :
         {KeepAwakeTrigger::none, KeepAwakeTrigger::manual, KeepAwakeTrigger::pluggedInUnlimited,
          KeepAwakeTrigger::activeSignal, KeepAwakeTrigger::idleGrace}) {
        EXPECT_EQ(keepAwakeTriggerFromRawValue(rawValue(trigger)), trigger);
    }
    for (const auto reason : {SessionCloseReason::idle, SessionCloseReason::interrupted,
                              SessionCloseReason::vanished}) {
        EXPECT_EQ(sessionCloseReasonFromRawValue(rawValue(reason)), reason);
    }
    EXPECT_EQ(rawValue(KeepAwakeTrigger::pluggedInUnlimited), "pluggedInUnlimited");
    EXPECT_EQ(rawValue(SessionCloseReason::interrupted), "interrupted");
    for (const char* other : {"", "Manual", "active signal", "idle ", "crashed"}) {
        EXPECT_FALSE(keepAwakeTriggerFromRawValue(other)) << other;
        EXPECT_FALSE(sessionCloseReasonFromRawValue(other)) << other;
    }
}

TEST(UsageMetrics, DocumentWithOnlyInstallDateIsAFreshAccount) {
    const auto decoded = UsageMetrics::fromJSON(json{{"installDate", install}}.dump());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, UsageMetrics(install));
    EXPECT_TRUE(decoded->days().empty());
    EXPECT_EQ(decoded->longestProtectedRunSeconds(), 0);
    EXPECT_FALSE(decoded->sessionStartedAt());
    EXPECT_FALSE(decoded->sessionQualified());
    EXPECT_FALSE(decoded->lastTickAt());
    EXPECT_FALSE(decoded->lastRun());
    EXPECT_FALSE(decoded->lastCloseReason());
    EXPECT_EQ(decoded->wakeGapTicksDropped(), 0);
}

TEST(UsageMetrics, FreshAccountEncodesWithoutAbsentKeysAndCompactly) {
    const std::string text = UsageMetrics(install).toJSON();
    EXPECT_EQ(text.find("null"), std::string::npos) << text;
    EXPECT_EQ(text.find_first_of(" \n\t"), std::string::npos) << text;
    const json document = json::parse(text);
    EXPECT_EQ(document.at("installDate").get<double>(), install);
    EXPECT_TRUE(document.at("days").is_object());
    for (const char* absent :
         {"lastRun", "lastCloseReason", "sessionStartedAt", "sessionAgentID", "lastTickAt",
          "lastActiveSignalAt", "longestProtectedRunAgent", "longestProtectedRunDate"}) {
        EXPECT_FALSE(document.contains(absent)) << absent;
    }
    EXPECT_EQ(UsageMetrics::fromJSON(text), UsageMetrics(install));
}

TEST(UsageMetrics, LivedInAccountRoundTripsExactly) {
    const UsageMetrics account = lifeLikeAccount();
    ASSERT_TRUE(account.lastRun());
    ASSERT_TRUE(account.lastCloseReason());
    ASSERT_TRUE(account.sessionStartedAt());
    ASSERT_GT(account.longestProtectedRunSeconds(), 0);

    const std::string text = account.toJSON();
    const auto decoded = UsageMetrics::fromJSON(text);
    ASSERT_TRUE(decoded) << text;
    EXPECT_EQ(*decoded, account);
    EXPECT_EQ(decoded->toJSON(), text);

    const json document = json::parse(text);
    EXPECT_EQ(document.at("lastCloseReason"), "idle");
    EXPECT_EQ(document.at("lastRun").at("endedAt").get<double>(), account.lastRun()->endedAt());
    EXPECT_EQ(document.at("sessionStartedAt").get<double>(), *account.sessionStartedAt());
}

TEST(UsageMetrics, DatesAreSecondsSinceTwoThousandOneWithFraction) {
    const auto decoded = UsageMetrics::fromJSON(R"({"installDate":-0.5,"lastTickAt":1.125})");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->installDate(), -0.5);
    EXPECT_EQ(UsageMetrics::dayKey(decoded->installDate()), "2000-12-31");
    EXPECT_EQ(UsageMetrics::dayKey(*decoded->lastTickAt()), "2001-01-01");
    const json document = json::parse(decoded->toJSON());
    EXPECT_EQ(document.at("installDate").get<double>(), -0.5);
    EXPECT_EQ(document.at("lastTickAt").get<double>(), 1.125);
}

json completeDocument() {
    return {{"installDate", 100.0},
            {"days",
             {{"2026-03-14",
               bucketJSON(30, 60, 0, 0, 1, 2, {{"Claude Code", 30}}, {{"Claude Code", 1}})}}},
            {"longestProtectedRunSeconds", 30.0},
            {"longestProtectedRunAgent", "Claude Code"},
            {"longestProtectedRunDate", "2026-03-14"},
            {"sessionStartedAt", 50.0},
            {"sessionQualified", true},
            {"sessionAgentID", "Claude Code"},
            {"sessionRunSeconds", 3.0},
            {"lastTickAt", 80.0},
            {"lastActiveSignalAt", 79.0},
            {"wakeGapTicksDropped", 2},
            {"lastRun",
             {{"agentDisplayName", "Codex CLI"},
              {"endedAt", 40.0},
              {"workedSeconds", 12.5},
              {"protectedSeconds", 10.0},
              {"keptAwakeSeconds", 2.5},
              {"finishedNormally", false}}},
            {"lastCloseReason", "vanished"},
            {"sessionProtectedSeconds", 9.0},
            {"sessionKeptAwakeSeconds", 1.0}};
}

TEST(UsageMetrics, CompleteDocumentDecodesEveryField) {
    const UsageMetrics account = accountFrom(completeDocument());
    EXPECT_EQ(account.installDate(), 100);
    ASSERT_EQ(account.days().count("2026-03-14"), 1u);
    const DayBucket& bucket = account.days().at("2026-03-14");
    EXPECT_EQ(bucket.keptAwakeSeconds, 60);
    EXPECT_EQ(bucket.totalSessions, 2);
    EXPECT_EQ(bucket.sessionsByAgent.at("Claude Code"), 1);
    EXPECT_EQ(account.longestProtectedRunDate(), "2026-03-14");
    EXPECT_EQ(account.sessionAgentID(), "Claude Code");
    EXPECT_EQ(account.lastActiveSignalAt(), 79);
    EXPECT_EQ(account.wakeGapTicksDropped(), 2);
    EXPECT_EQ(account.lastRun(), LastRunSummary("Codex CLI", 40, 12.5, 10, 2.5, false));
    EXPECT_EQ(account.lastCloseReason(), SessionCloseReason::vanished);
    EXPECT_EQ(account.sessionKeptAwakeSeconds(), 1);
    EXPECT_EQ(json::parse(account.toJSON()), completeDocument());
}

TEST(UsageMetrics, DamagedDocumentsAreRefusedAsAWhole) {
    struct Damage {
        const char* what;
        std::function<void(json&)> apply;
    };
    const std::vector<Damage> damages = {
        {"no installDate", [](json& d) { d.erase("installDate"); }},
        {"null installDate", [](json& d) { d["installDate"] = nullptr; }},
        {"installDate as text", [](json& d) { d["installDate"] = "2026-03-14"; }},
        {"days as a list", [](json& d) { d["days"] = json::array(); }},
        {"bucket without sessionsByAgent",
         [](json& d) { d["days"]["2026-03-14"].erase("sessionsByAgent"); }},
        {"bucket without manualSeconds",
         [](json& d) { d["days"]["2026-03-14"].erase("manualSeconds"); }},
        {"bucket count with a fraction",
         [](json& d) { d["days"]["2026-03-14"]["totalSessions"] = 1.5; }},
        {"agent seconds as text",
         [](json& d) { d["days"]["2026-03-14"]["protectedSecondsByAgent"]["X"] = "3"; }},
        {"sessionQualified as text", [](json& d) { d["sessionQualified"] = "true"; }},
        {"sessionQualified as number", [](json& d) { d["sessionQualified"] = 1; }},
        {"agent as number", [](json& d) { d["sessionAgentID"] = 7; }},
        {"wakeGapTicksDropped beyond 64 bits",
         [](json& d) { d["wakeGapTicksDropped"] = std::numeric_limits<std::uint64_t>::max(); }},
        {"lastRun without endedAt", [](json& d) { d["lastRun"].erase("endedAt"); }},
        {"lastRun without finishedNormally",
         [](json& d) { d["lastRun"].erase("finishedNormally"); }},
        {"lastRun as text", [](json& d) { d["lastRun"] = "yesterday"; }},
        {"unknown close reason", [](json& d) { d["lastCloseReason"] = "crashed"; }},
        {"longest run date as number", [](json& d) { d["longestProtectedRunDate"] = 20260314; }},
        {"agent seconds null",
         [](json& d) { d["days"]["2026-03-14"]["protectedSecondsByAgent"]["X"] = nullptr; }},
        {"day as null", [](json& d) { d["days"]["2026-03-15"] = nullptr; }},
        {"day as number", [](json& d) { d["days"]["2026-03-15"] = 0; }},
        {"bucket key null", [](json& d) { d["days"]["2026-03-14"]["sessionsSaved"] = nullptr; }},
        {"lastRun endedAt null", [](json& d) { d["lastRun"]["endedAt"] = nullptr; }},
        // Out of range: totals would overflow or turn infinite, dates would not fit a calendar.
        {"negative day seconds",
         [](json& d) { d["days"]["2026-03-14"]["keptAwakeSeconds"] = -60; }},
        {"negative agent seconds",
         [](json& d) { d["days"]["2026-03-14"]["protectedSecondsByAgent"]["X"] = -1; }},
        {"absurd longest run", [](json& d) { d["longestProtectedRunSeconds"] = 1e300; }},
        {"negative lastRun worked seconds", [](json& d) { d["lastRun"]["workedSeconds"] = -12.5; }},
        {"negative session count", [](json& d) { d["days"]["2026-03-14"]["sessionsSaved"] = -1; }},
        {"agent count that overflows a total",
         [](json& d) {
             d["days"]["2026-03-14"]["sessionsByAgent"]["Claude Code"] =
                 std::numeric_limits<std::int64_t>::max();
         }},
        {"negative wakeGapTicksDropped", [](json& d) { d["wakeGapTicksDropped"] = -3; }},
        {"lastTickAt far in the future", [](json& d) { d["lastTickAt"] = 1e15; }},
        {"lastRun ended far in the future", [](json& d) { d["lastRun"]["endedAt"] = 1e300; }},
        {"installDate long before 1970", [](json& d) { d["installDate"] = -1e12; }},
    };
    ASSERT_TRUE(UsageMetrics::fromJSON(completeDocument().dump()));
    for (const auto& damage : damages) {
        json document = completeDocument();
        damage.apply(document);
        EXPECT_FALSE(UsageMetrics::fromJSON(document.dump())) << damage.what;
    }
    for (const char* text : {"", "[]", "42", "{", R"({"installDate":1e999})",
                             R"({"installDate":1,"days":{"2026-01-01":[]}})"}) {
        EXPECT_FALSE(UsageMetrics::fromJSON(text)) << text;
    }
}

TEST(UsageMetrics, TolerableVariationsStillDecode) {
    json document = completeDocument();
    document["wakeGapTicksDropped"] = 3.0;
    document["lastRun"].erase("agentDisplayName");
    document["sessionAgentID"] = nullptr;
    // A clock that lost its time reads 1970.
    document["lastTickAt"] = UsageMetrics::earliestStoredDate;
    const json junk = {{"list", {1, json::object(), json::array({json::array()})}},
                       {"nested", {{"deeper", {{"list", {"a", nullptr, true}}}}}}};
    document["someFutureKey"] = junk;
    document["days"]["2026-03-14"]["someFutureKey"] = junk;
    document["lastRun"]["someFutureKey"] = junk;
    const UsageMetrics account = accountFrom(document);
    EXPECT_EQ(account.wakeGapTicksDropped(), 3);
    ASSERT_TRUE(account.lastRun());
    EXPECT_FALSE(account.lastRun()->agentDisplayName());
    EXPECT_FALSE(account.sessionAgentID());
    EXPECT_EQ(account.days().at("2026-03-14").totalSessions, 2);
    EXPECT_EQ(account.lastRun()->workedSeconds(), 12.5);
    EXPECT_EQ(account.lastTickAt(), UsageMetrics::earliestStoredDate);
}

TEST(UsageMetrics, NamesWithQuotesAndControlsSurviveTheRoundTrip) {
    const std::string name = "Tab\there \"quoted\" \x01 back\\slash \xC3\xA9 \xF0\x9F\xA4\x96";
    json document = completeDocument();
    document["sessionAgentID"] = name;
    document["days"]["2026-03-14"]["protectedSecondsByAgent"][name] = 1.5;
    const UsageMetrics account = accountFrom(document);
    EXPECT_EQ(account.sessionAgentID(), name);
    const std::string text = account.toJSON();
    EXPECT_EQ(json::parse(text).at("sessionAgentID"), name);
    EXPECT_EQ(UsageMetrics::fromJSON(text), account);
}

TEST(UsageMetrics, RecordsCodeOnTheirOwn) {
    DayBucket bucket;
    bucket.protectedSeconds = 12.75;
    bucket.sessionsByAgent["Gemini CLI"] = 4;
    EXPECT_EQ(DayBucket::fromJSON(bucket.toJSON()), bucket);
    EXPECT_FALSE(DayBucket::fromJSON(R"({"protectedSeconds":1})"));

    const LastRunSummary run(std::nullopt, 5.5, 1, 2, 3, true);
    EXPECT_EQ(run.toJSON().find("agentDisplayName"), std::string::npos);
    EXPECT_EQ(LastRunSummary::fromJSON(run.toJSON()), run);
    EXPECT_FALSE(LastRunSummary::fromJSON(R"({"endedAt":1,"workedSeconds":1})"));
}

TEST(UsageMetrics, NamesThatAreNotUTF8StillSave) {
    UsageMetrics account(install);
    const std::optional<std::string> badName = std::string("agent\xff\xfe");
    account = UsageMetrics::recording(std::move(account), true, KeepAwakeTrigger::activeSignal,
                                      SignalStrength::strong, LidState::closed, badName, 90,
                                      std::nullopt, 10);
    account = UsageMetrics::recording(std::move(account), true, KeepAwakeTrigger::activeSignal,
                                      SignalStrength::strong, LidState::closed, badName, 90,
                                      std::nullopt, 13);
    std::string text;
    ASSERT_NO_THROW(text = account.toJSON());
    const auto decoded = UsageMetrics::fromJSON(text);
    ASSERT_TRUE(decoded) << text;
    EXPECT_EQ(decoded->sessionAgentID(), "agent\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(decoded->totalProtectedSeconds(), 3);
}

json summaryDocument() {
    return {{"installDate", 0.0},
            {"days",
             {{"2026-03-10",
               bucketJSON(100, 20, 0, 0, 1, 1, {{"Claude Code", 100}}, {{"Claude Code", 1}})},
              {"2026-03-11", bucketJSON(0, 0, 500, 700)},
              {"2026-03-12", bucketJSON(0, 40, 0, 0, 0, 1)},
              {"2026-03-13",
               bucketJSON(50.5, 0, 10, 0, 2, 2, {{"Claude Code", 20}, {"Codex CLI", 30.5}},
                          {{"Claude Code", 1}, {"Codex CLI", 1}})},
              {"2026-03-14", bucketJSON()}}}};
}

TEST(UsageMetrics, SummariesAddUpTheDays) {
    const UsageMetrics account = accountFrom(summaryDocument());
    EXPECT_DOUBLE_EQ(account.totalProtectedSeconds(), 150.5);
    EXPECT_DOUBLE_EQ(account.totalKeptAwakeSeconds(), 60);
    EXPECT_DOUBLE_EQ(account.totalManualSeconds(), 510);
    EXPECT_DOUBLE_EQ(account.totalPluggedInUnlimitedSeconds(), 700);
    EXPECT_EQ(account.totalSessionsSaved(), 3);
    EXPECT_EQ(account.totalWorkSessions(), 4);
    // The manual/plugged-in-only day and the all-zero day are not active.
    EXPECT_EQ(account.activeDays(), 3);
    ASSERT_TRUE(account.utilization());
    EXPECT_DOUBLE_EQ(*account.utilization(), 0.75);
    EXPECT_EQ(account.protectedSecondsByAgent(),
              (std::map<std::string, double>{{"Claude Code", 120}, {"Codex CLI", 30.5}}));
    EXPECT_EQ(account.sessionsByAgent(),
              (std::map<std::string, std::int64_t>{{"Claude Code", 2}, {"Codex CLI", 1}}));
}

TEST(UsageMetrics, UtilizationNeedsClosedSessions) {
    EXPECT_FALSE(UsageMetrics(install).utilization());
    json manualOnly = {{"installDate", 0.0}, {"days", {{"2026-03-11", bucketJSON(0, 0, 500)}}}};
    EXPECT_FALSE(accountFrom(manualOnly).utilization());
    EXPECT_EQ(accountFrom(manualOnly).activeDays(), 0);
    json halfSaved = {{"installDate", 0.0},
                      {"days", {{"2026-03-11", bucketJSON(5, 0, 0, 0, 1, 2)}}}};
    EXPECT_EQ(accountFrom(halfSaved).utilization(), 0.5);
}

std::vector<std::string> keysOf(const std::vector<RecentDay>& days) {
    std::vector<std::string> keys;
    for (const auto& day : days) {
        keys.push_back(day.dayKey);
    }
    return keys;
}

TEST(UsageMetrics, RecentDaysFillTheWeekOldestFirst) {
    const UsageMetrics account = accountFrom(summaryDocument());
    const auto week = account.recentDays(7, utcDate(2026, 3, 13, 23, 59, 59.9));
    EXPECT_EQ(keysOf(week),
              (std::vector<std::string>{"2026-03-07", "2026-03-08", "2026-03-09", "2026-03-10",
                                        "2026-03-11", "2026-03-12", "2026-03-13"}));
    int empty = 0;
    for (const auto& day : week) {
        const auto stored = account.days().find(day.dayKey);
        EXPECT_EQ(day.bucket, stored == account.days().end() ? DayBucket{} : stored->second);
        empty += day.bucket == DayBucket{} ? 1 : 0;
    }
    EXPECT_EQ(empty, 3);
    EXPECT_EQ(week.back().bucket.protectedSecondsByAgent.at("Codex CLI"), 30.5);
}

TEST(UsageMetrics, RecentDaysCrossMonthsAndLeapDays) {
    const UsageMetrics account(install);
    EXPECT_EQ(keysOf(account.recentDays(3, utcDate(2024, 3, 1, 12))),
              (std::vector<std::string>{"2024-02-28", "2024-02-29", "2024-03-01"}));
    EXPECT_EQ(keysOf(account.recentDays(3, utcDate(2026, 3, 1, 0, 0, 0.5))),
              (std::vector<std::string>{"2026-02-27", "2026-02-28", "2026-03-01"}));
    EXPECT_EQ(keysOf(account.recentDays(2, utcDate(2027, 1, 1))),
              (std::vector<std::string>{"2026-12-31", "2027-01-01"}));
    EXPECT_EQ(keysOf(account.recentDays(1, utcDate(2026, 3, 14, 9))),
              (std::vector<std::string>{"2026-03-14"}));
}

TEST(UsageMetrics, RecentDaysWithNoOrNegativeCountAreEmpty) {
    const UsageMetrics account = accountFrom(summaryDocument());
    for (const int count : {0, -1, -365, std::numeric_limits<int>::min()}) {
        EXPECT_TRUE(account.recentDays(count, utcDate(2026, 3, 14)).empty()) << count;
    }
}

TEST(UsageMetrics, RecentDaysStopAtTheFirstFormableDay) {
    const auto days = UsageMetrics(0).recentDays(std::numeric_limits<int>::max(), utcDate(1, 1, 3));
    EXPECT_EQ(keysOf(days), (std::vector<std::string>{"0001-01-01", "0001-01-02", "0001-01-03"}));
}

TEST(UsageMetrics, DayKeysAreGregorianDatesOfTheLocalZone) {
    struct Case {
        Date date;
        const char* key;
    };
    const std::vector<Case> cases = {
        {0, "2001-01-01"},
        {-0.001, "2000-12-31"},
        {utcDate(2026, 3, 14, 9, 26, 53), "2026-03-14"},
        {utcDate(2026, 3, 14, 23, 59, 59.999), "2026-03-14"},
        {utcDate(2026, 3, 15), "2026-03-15"},
        {utcDate(2000, 2, 29, 12), "2000-02-29"},
        {utcDate(1900, 3, 1), "1900-03-01"},
        {utcDate(987, 6, 5), "0987-06-05"},
        {std::numeric_limits<double>::infinity(), "9999-12-31"},
        {-1e300, "0001-01-01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UsageMetrics::dayKey(c.date), c.key) << c.date;
    }
}

} // namespace
