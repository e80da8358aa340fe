// The statistics account driven through 10,000 random ticks — agent activity, lid and power
// changes, keep-awake reasons, clock gaps and steps back — and compared after every tick with a
// small reference account written from the accounting rules.

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <gtest/gtest.h>

#include <random>

using namespace nodwarden;

namespace {

/// The accounting rules, restated as plainly as possible.
struct ReferenceAccount {
    std::map<std::string, DayBucket> days;
    double longestRun = 0;
    std::optional<std::string> longestRunAgent;
    std::optional<std::string> longestRunDate;
    std::optional<Date> sessionStart;
    bool qualified = false;
    std::optional<std::string> sessionAgent;
    double runSeconds = 0;
    std::optional<Date> lastTick;
    std::optional<Date> lastActive;
    std::int64_t gapsDropped = 0;
    std::optional<LastRunSummary> lastRun;
    std::optional<SessionCloseReason> lastClose;
    double sessionProtected = 0;
    double sessionKeptAwake = 0;

    void close(Date at, SessionCloseReason reason) {
        if (!sessionStart) {
            return;
        }
        DayBucket& bucket = days[UsageMetrics::dayKey(at)];
        bucket.totalSessions += 1;
        if (qualified) {
            bucket.sessionsSaved += 1;
            if (sessionAgent) {
                bucket.sessionsByAgent[*sessionAgent] += 1;
            }
        }
        lastClose = reason;
        if (sessionProtected + sessionKeptAwake > 0) {
            const double worked = std::max(0.0, lastActive.value_or(*sessionStart) - *sessionStart);
            lastRun = LastRunSummary(sessionAgent, at, worked, sessionProtected, sessionKeptAwake,
                                     reason == SessionCloseReason::idle);
        }
        sessionStart.reset();
        sessionAgent.reset();
        lastActive.reset();
        qualified = false;
        runSeconds = sessionProtected = sessionKeptAwake = 0;
    }

    void tick(bool keepAwake, KeepAwakeTrigger trigger, SignalStrength strength, LidState lid,
              const std::optional<std::string>& agent, double grace, std::optional<bool> alive,
              Date now) {
        if (!lastTick) {
            lastTick = now;
            return;
        }
        const double elapsed = now - *lastTick;
        const Date previous = *lastTick;
        lastTick = now;
        if (elapsed <= 0 || elapsed > UsageMetrics::maxClampedElapsed) {
            if (elapsed > UsageMetrics::maxClampedElapsed) {
                ++gapsDropped;
            }
            close(previous, SessionCloseReason::interrupted);
            return;
        }
        const std::string today = UsageMetrics::dayKey(now);
        DayBucket& bucket = days[today];
        const bool protectedTick =
            keepAwake && trigger == KeepAwakeTrigger::activeSignal && lid == LidState::closed;
        if (keepAwake && trigger == KeepAwakeTrigger::manual) {
            bucket.manualSeconds += elapsed;
        } else if (keepAwake && trigger == KeepAwakeTrigger::pluggedInUnlimited) {
            bucket.pluggedInUnlimitedSeconds += elapsed;
        } else if (protectedTick) {
            bucket.protectedSeconds += elapsed;
            sessionProtected += elapsed;
            if (agent) {
                bucket.protectedSecondsByAgent[*agent] += elapsed;
            }
            runSeconds += elapsed;
            if (runSeconds > longestRun) {
                longestRun = runSeconds;
                longestRunAgent = agent;
                longestRunDate = today;
            }
        } else if (keepAwake && trigger == KeepAwakeTrigger::activeSignal) {
            bucket.keptAwakeSeconds += elapsed;
            sessionKeptAwake += elapsed;
        }
        if (!protectedTick) {
            runSeconds = 0;
        }
        if (strength == SignalStrength::weak || strength == SignalStrength::strong) {
            lastActive = now;
            if (!sessionStart) {
                sessionStart = now;
                qualified = false;
                sessionAgent = agent;
            }
            if (protectedTick) {
                qualified = true;
            }
        } else if (lastActive && sessionStart) {
            if (now - *lastActive >= grace) {
                close(now, SessionCloseReason::idle);
            } else if (alive == false) {
                close(now, SessionCloseReason::vanished);
            }
        }
    }
};

void expectSame(const UsageMetrics& actual, const ReferenceAccount& expected) {
    EXPECT_EQ(actual.days(), expected.days);
    EXPECT_EQ(actual.longestProtectedRunSeconds(), expected.longestRun);
    EXPECT_EQ(actual.longestProtectedRunAgent(), expected.longestRunAgent);
    EXPECT_EQ(actual.longestProtectedRunDate(), expected.longestRunDate);
    EXPECT_EQ(actual.sessionStartedAt(), expected.sessionStart);
    EXPECT_EQ(actual.sessionQualified(), expected.qualified);
    EXPECT_EQ(actual.sessionAgentID(), expected.sessionAgent);
    EXPECT_EQ(actual.sessionRunSeconds(), expected.runSeconds);
    EXPECT_EQ(actual.lastTickAt(), expected.lastTick);
    EXPECT_EQ(actual.lastActiveSignalAt(), expected.lastActive);
    EXPECT_EQ(actual.wakeGapTicksDropped(), expected.gapsDropped);
    EXPECT_EQ(actual.lastRun(), expected.lastRun);
    EXPECT_EQ(actual.lastCloseReason(), expected.lastClose);
    EXPECT_EQ(actual.sessionProtectedSeconds(), expected.sessionProtected);
    EXPECT_EQ(actual.sessionKeptAwakeSeconds(), expected.sessionKeptAwake);
}

/// Picks from `choices` with the given weights.
template <typename T>
T pick(std::mt19937& random, const std::vector<T>& choices, const std::vector<double>& weights) {
    std::discrete_distribution<std::size_t> distribution(weights.begin(), weights.end());
    return choices[distribution(random)];
}

} // namespace

TEST(StatisticsModel, TenThousandRandomTicksMatchTheReferenceAccount) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        // An hour before midnight, so the run crosses into new days.
        Date now = 800000000 - std::fmod(800000000.0, 86400.0) + 86400 - 3600;
        UsageMetrics metrics(now);
        ReferenceAccount reference;
        // Work comes in stretches: the state of the world changes only now and then.
        SignalStrength strength = SignalStrength::none;
        LidState lid = LidState::open;
        bool keepAwake = false;
        KeepAwakeTrigger trigger = KeepAwakeTrigger::none;
        std::optional<std::string> agent;
        std::optional<bool> alive;
        double grace = 30;
        std::map<std::string, int> closes;
        for (int step = 0; step < 10000; ++step) {
            if (random() % 8 == 0) {
                strength = pick<SignalStrength>(random,
                                                {SignalStrength::none, SignalStrength::presence,
                                                 SignalStrength::weak, SignalStrength::strong},
                                                {2, 2, 1, 3});
                agent = pick<std::optional<std::string>>(
                    random, {std::nullopt, "Claude Code", "Codex", "vendor/Agent \"x\""},
                    {1, 3, 2, 1});
                alive = pick<std::optional<bool>>(random, {std::nullopt, true, false}, {2, 5, 1});
                keepAwake = random() % 4 != 0;
                trigger = pick<KeepAwakeTrigger>(random,
                                                 {KeepAwakeTrigger::none, KeepAwakeTrigger::manual,
                                                  KeepAwakeTrigger::pluggedInUnlimited,
                                                  KeepAwakeTrigger::activeSignal,
                                                  KeepAwakeTrigger::idleGrace},
                                                 {1, 1, 1, 5, 2});
            }
            if (random() % 12 == 0) {
                lid = pick<LidState>(random, {LidState::open, LidState::closed, LidState::unknown},
                                     {3, 3, 1});
            }
            if (random() % 500 == 0) {
                grace = pick<double>(random, {5.0, 30.0, 90.0}, {1, 1, 1});
            }
            const double elapsed =
                pick<double>(random, {3.0, 2.5, 0.75, 10.0, 10.001, 0.0, -40.0, 600.0, 9.999},
                             {60, 20, 5, 3, 2, 1, 1, 1, 2});
            now += elapsed;
            // The model writes an open session's ledger line from the account without its days.
            if (metrics.sessionStartedAt()) {
                EXPECT_EQ(UsageMetrics::runLogLine(metrics.withoutDays(), SessionCloseReason::idle,
                                                   now, alive, std::nullopt, lid),
                          UsageMetrics::runLogLine(metrics, SessionCloseReason::idle, now, alive,
                                                   std::nullopt, lid));
            }
            // The model's in-place path; what it says about the days is checked against a copy.
            const auto daysBefore = metrics.days();
            const bool daysChanged =
                metrics.record(keepAwake, trigger, strength, lid, agent, grace, alive, now);
            EXPECT_EQ(daysChanged, metrics.days() != daysBefore) << "tick " << step;
            reference.tick(keepAwake, trigger, strength, lid, agent, grace, alive, now);
            if (reference.lastClose) {
                ++closes[std::string(rawValue(*reference.lastClose))];
            }
            if (::testing::Test::HasFailure()) {
                break;
            }
            expectSame(metrics, reference);
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "first difference at tick " << step;
                break;
            }
        }
        // The walk must really have exercised every rule it compares.
        EXPECT_GE(reference.days.size(), 2u);
        EXPECT_GT(reference.longestRun, 0);
        EXPECT_GT(reference.gapsDropped, 0);
        for (const char* reason : {"idle", "interrupted", "vanished"}) {
            EXPECT_GT(closes[reason], 0) << reason;
        }
        // An encode-and-decode round trip keeps the whole account.
        EXPECT_EQ(UsageMetrics::fromJSON(metrics.toJSON()), metrics);
    }
}
