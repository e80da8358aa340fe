// The statistics file days under the local calendar date. This program runs in New York time
// (UTC-5, UTC-4 in summer) so that local and UTC dates differ for hours each day.

#include "UsageMetricsTestSupport.hpp"

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using namespace nodwarden;
using namespace stayloom::testing;

namespace {

const ProgramTimeZone newYork("America/New_York");

// The local date of `date` as the C library sees it right now.
std::string liveLocalDate(Date date) {
    const std::time_t time = static_cast<std::time_t>(unixTimeFromDate(date));
    std::tm local{};
    localtime_r(&time, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

TEST(UsageMetricsLocalZone, DayKeysFollowLocalMidnightThroughDaylightSaving) {
    struct Case {
        Date date;
        const char* key;
    };
    const std::vector<Case> cases = {
        {utcDate(2026, 1, 15, 4, 59, 59.9), "2026-01-14"}, // 23:59:59.9 EST
        {utcDate(2026, 1, 15, 5, 0, 0), "2026-01-15"},     // midnight EST
        {utcDate(2026, 3, 8, 4, 59, 59), "2026-03-07"},    // the night clocks spring forward
        {utcDate(2026, 3, 8, 5, 0, 0), "2026-03-08"},
        {utcDate(2026, 3, 8, 7, 30, 0), "2026-03-08"},  // 03:30 EDT
        {utcDate(2026, 7, 1, 3, 59, 59), "2026-06-30"}, // 23:59:59 EDT
        {utcDate(2026, 7, 1, 4, 0, 0), "2026-07-01"},
        {utcDate(2026, 11, 1, 5, 30, 0), "2026-11-01"}, // 01:30 EST, the repeated hour
        {utcDate(2026, 11, 2, 4, 59, 59), "2026-11-01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UsageMetrics::dayKey(c.date), c.key) << c.date;
        EXPECT_EQ(liveLocalDate(c.date), c.key) << "the case table itself is wrong";
    }
}

TEST(UsageMetricsLocalZone, TicksAcrossLocalMidnightFileUnderTheNewDay) {
    const Date midnight = utcDate(2026, 1, 15, 5, 0, 0); // 2026-01-15 00:00 EST
    Tick first;
    first.at = -6;
    Tick beforeMidnight;
    beforeMidnight.at = -3;
    Tick afterMidnight;
    afterMidnight.at = 3;
    UsageMetrics m = play(UsageMetrics(0), {first, beforeMidnight, afterMidnight}, midnight);
    // A tick's whole elapsed time goes to the day the tick falls on.
    EXPECT_DOUBLE_EQ(m.days().at("2026-01-14").protectedSeconds, 3);
    EXPECT_DOUBLE_EQ(m.days().at("2026-01-15").protectedSeconds, 6);
    EXPECT_EQ(m.longestProtectedRunDate(), "2026-01-15");

    // A session interrupted by a long gap is filed on the day of its last tick before the gap.
    Tick afterSleep;
    afterSleep.at = 3 + 3600;
    const UsageMetrics beforeGap = play(UsageMetrics(0), {first, beforeMidnight}, midnight);
    m = play(beforeGap, {afterSleep}, midnight);
    EXPECT_EQ(m.days().at("2026-01-14").totalSessions, 1);
    EXPECT_EQ(m.days().count("2026-01-15"), 0u);
}

TEST(UsageMetricsLocalZone, RecentDaysWalkLocalDatesAcrossTheClockChange) {
    const UsageMetrics account(0);
    std::vector<std::string> keys;
    // 23:30 EDT on the 8th, the day the clocks sprang forward; already the 9th in UTC.
    for (const auto& day : account.recentDays(3, utcDate(2026, 3, 9, 3, 30))) {
        keys.push_back(day.dayKey);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"2026-03-06", "2026-03-07", "2026-03-08"}));
}

TEST(UsageMetricsLocalZone, ZoneIsCapturedOnceForTheProcess) {
    const Date lateEvening = utcDate(2026, 3, 14, 23, 0); // 19:00 EDT, already the 15th in Tokyo
    ASSERT_EQ(UsageMetrics::dayKey(lateEvening), "2026-03-14");

    const char* previous = std::getenv("TZ");
    const std::string restore = previous != nullptr ? previous : "";
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    const std::string tokyoDate = liveLocalDate(lateEvening);
    const std::string key = UsageMetrics::dayKey(lateEvening);
    setenv("TZ", restore.c_str(), 1);
    tzset();

    ASSERT_EQ(tokyoDate, "2026-03-15") << "the zone change did not reach the C library";
    EXPECT_EQ(key, "2026-03-14");
}

} // namespace
