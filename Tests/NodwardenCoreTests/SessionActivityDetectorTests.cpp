#include <NodwardenCore/detection/SessionActivityDetector.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

using namespace nodwarden;
using stayloom::testing::TemporaryDirectory;
namespace fs = std::filesystem;

namespace {

/// An arbitrary "now", a whole number of seconds so that whole-second ages are exact.
constexpr Date pinnedNow = 800'000'000.0;

/// A temporary home folder whose files carry chosen ages relative to `pinnedNow`.
class AgentHome {
public:
    void add(const std::string& relative, double ageSeconds) {
        const auto path = home_.write(relative, "{}\n");
        ages_.emplace_back(path, ageSeconds);
    }
    /// Sets the times last: creating a file changes its folder's time.
    std::shared_ptr<FileActivityProbe> probe() const {
        for (const auto& [path, age] : ages_) {
            const double unix = unixTimeFromDate(pinnedNow - age);
            timespec times[2];
            times[0].tv_sec = static_cast<time_t>(std::floor(unix));
            times[0].tv_nsec = static_cast<long>(std::round((unix - std::floor(unix)) * 1e9));
            times[1] = times[0];
            EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
        }
        return std::make_shared<FileActivityProbe>(home_.path(), 8);
    }

private:
    TemporaryDirectory home_;
    std::vector<std::pair<fs::path, double>> ages_;
};

GuardSettings settingsWithout(std::vector<std::string> disabled = {}) {
    return GuardSettings{.disabledAgentIDs = std::move(disabled)};
}

std::vector<std::string> reasonsOf(const std::vector<ActivitySignal>& signals) {
    std::vector<std::string> reasons;
    for (const auto& signal : signals) {
        reasons.push_back(signal.reason);
    }
    return reasons;
}

TEST(SessionActivityDetector, FreshTranscriptGivesAStrongSignalWithItsAge) {
    struct Case {
        double age;
        std::optional<std::string> reason;
    };
    const std::vector<Case> cases = {
        {30, "Claude Code session active (30s ago)"},
        {29.9, "Claude Code session active (29s ago)"},
        {60, "Claude Code session active (60s ago)"},
        {-5, "Claude Code session active (0s ago)"},
        {61, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.age);
        AgentHome home;
        home.add(".claude/projects/p/s.jsonl", testCase.age);
        const SessionActivityDetector detector(home.probe());
        const auto signals = detector.detectPerApp(settingsWithout(), pinnedNow,
                                                   SessionActivityDetector::defaultFreshnessWindow);
        if (!testCase.reason) {
            EXPECT_TRUE(signals.empty());
            continue;
        }
        ASSERT_EQ(signals.size(), 1u);
        EXPECT_EQ(signals[0].strength, SignalStrength::strong);
        EXPECT_EQ(signals[0].appName, "Claude Code");
        EXPECT_EQ(signals[0].reason, *testCase.reason);
        EXPECT_EQ(signals[0].matchedText, std::nullopt);
        EXPECT_EQ(signals[0].sessionCount, std::nullopt);
        EXPECT_EQ(signals[0].processPresent, std::nullopt);
    }
}

TEST(SessionActivityDetector, SignalsFollowCatalogOrderAndSkipDisabledAgents) {
    AgentHome home;
    home.add(".codex/sessions/2026/12/08/rollout-1.jsonl", 10); // ChatGPT's activity pattern
    home.add(".codex/log/codex-tui.log", 20);
    home.add(".claude/projects/p/s.jsonl", 40);
    home.add(".local/share/opencode/store.db-wal", 500); // too old
    const SessionActivityDetector detector(home.probe());

    EXPECT_EQ(reasonsOf(detector.detectPerApp(settingsWithout(), pinnedNow, 60)),
              (std::vector<std::string>{"Claude Code session active (40s ago)",
                                        "Codex CLI session active (20s ago)",
                                        "ChatGPT session active (10s ago)"}));
    EXPECT_EQ(reasonsOf(detector.detectPerApp(settingsWithout({"codex-cli", "claude-code"}),
                                              pinnedNow, 60)),
              (std::vector<std::string>{"ChatGPT session active (10s ago)"}));
    // A wider window reaches the old write-ahead log too.
    EXPECT_EQ(detector.detectPerApp(settingsWithout(), pinnedNow, 600).size(), 4u);

    // On Linux, where the ChatGPT application does not run, Codex's rollouts are not its files.
    const SessionActivityDetector onLinux(home.probe(), HostSystem::linux);
    EXPECT_EQ(reasonsOf(onLinux.detectPerApp(settingsWithout(), pinnedNow, 60)),
              (std::vector<std::string>{"Claude Code session active (40s ago)",
                                        "Codex CLI session active (20s ago)"}));
}

TEST(SessionActivityDetector, CountsRecentTranscriptsButNotSubagents) {
    AgentHome home;
    home.add(".claude/projects/p/one.jsonl", 10);
    home.add(".claude/projects/q/two.jsonl", 300);
    home.add(".claude/projects/agent-dir/three.jsonl", 5); // only the file name is tested
    home.add(".claude/projects/p/agent-1.jsonl", 10);
    home.add(".claude/projects/p/subagents/x.jsonl", 10);
    home.add(".claude/projects/old.jsonl", 301);
    home.add(".codex/sessions/2026/12/08/rollout-a.jsonl", 100);
    home.add(".codex/sessions/2026/12/08/notes.jsonl", 100);
    home.add(".gemini/tmp/4f2a/chats/session-2026-12-08T11-00-a1b2.jsonl", 20);
    home.add(".gemini/tmp/4f2a/logs.json", 20);
    home.add(".qwen/projects/-home-u-app/chats/6b1c.jsonl", 200);
    home.add(".qwen/projects/-home-u-app/chats/7c2d.jsonl", 30);
    const SessionActivityDetector detector(home.probe());

    const auto counts = detector.sessionCountsPerApp(
        settingsWithout(), pinnedNow, SessionActivityDetector::defaultSessionCountWindow);
    // Every watched agent with count patterns has an entry, zero included; no other agent has.
    const std::map<std::string, int> expected = {{"Claude Code", 3}, {"Codex CLI", 1},
                                                 {"Gemini CLI", 1},  {"Grok Build", 0},
                                                 {"Pi", 0},          {"Qwen Code", 2}};
    EXPECT_EQ(counts, expected);

    const auto narrow =
        detector.sessionCountsPerApp(settingsWithout({"pi-coding-agent"}), pinnedNow, 60);
    EXPECT_EQ(narrow, (std::map<std::string, int>{{"Claude Code", 2},
                                                  {"Codex CLI", 0},
                                                  {"Gemini CLI", 1},
                                                  {"Grok Build", 0},
                                                  {"Qwen Code", 1}}));
}

TEST(SessionActivityDetector, WhatAgentsWriteWhileIdleIsNoWork) {
    AgentHome home;
    home.add(".claude/telemetry/1p_failed_events.5d1e.0001.json", 2);
    home.add(".codex/logs_2.sqlite-wal", 2);
    home.add(".codex/logs_2.sqlite-shm", 2);
    home.add(".local/state/opencode/locks/9a8b.lock/heartbeat", 2);
    home.add(".copilot/logs/process-1796727800.log", 2);
    home.add(".gemini/tmp/4f2a/chats/session-2026-12-08T11-00-a1b2.jsonl", 2);
    home.add(".qwen/projects/-home-u-app/chats/6b1c.jsonl", 2);
    const SessionActivityDetector detector(home.probe());
    // Chats are written at a turn's end too: what they say is read from their records.
    EXPECT_TRUE(detector.detectPerApp(settingsWithout(), pinnedNow, 60).empty())
        << reasonsOf(detector.detectPerApp(settingsWithout(), pinnedNow, 60)).front();
}

/// A prober that only knows the newest time, as a minimal implementation may.
class NewestOnlyProbe : public FileActivityProbing {
public:
    std::optional<Date>
    newestModification(const std::vector<std::string>& patterns) const override {
        asked.push_back(patterns);
        return pinnedNow - 1;
    }
    mutable std::vector<std::vector<std::string>> asked;
};

TEST(SessionActivityDetector, WorksOverAnyProberAndAsksWithTheProfilesPatterns) {
    auto probe = std::make_shared<NewestOnlyProbe>();
    const SessionActivityDetector detector(probe);
    const auto settings = settingsWithout({"chatgpt-desktop", "opencode", "grok-build"});
    EXPECT_EQ(detector.detectPerApp(settings, pinnedNow, 60).size(), 3u);
    EXPECT_EQ(probe->asked,
              (std::vector<std::vector<std::string>>{{".claude/projects/**/*.jsonl"},
                                                     {".codex/log/codex-tui.log"},
                                                     {".pi/agent/sessions/**/*.jsonl"}}));
    // Without session listings every count is zero.
    EXPECT_EQ(
        detector.sessionCountsPerApp(settings, pinnedNow, 300),
        (std::map<std::string, int>{
            {"Claude Code", 0}, {"Codex CLI", 0}, {"Gemini CLI", 0}, {"Pi", 0}, {"Qwen Code", 0}}));
    EXPECT_TRUE(probe->modificationDates({"x"}).empty());
}

TEST(SessionActivityDetector, SignalForRejectsMissingStaleAndUnorderableTimes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(SessionActivityDetector::signalFor("A", std::nullopt, pinnedNow, 60), std::nullopt);
    EXPECT_EQ(SessionActivityDetector::signalFor("A", pinnedNow - 60.001, pinnedNow, 60),
              std::nullopt);
    EXPECT_EQ(SessionActivityDetector::signalFor("A", nan, pinnedNow, 60), std::nullopt);
    EXPECT_EQ(SessionActivityDetector::signalFor("A", pinnedNow - 1, pinnedNow, nan), std::nullopt);
    const auto ancient = SessionActivityDetector::signalFor("A", -1e300, pinnedNow, inf);
    ASSERT_TRUE(ancient.has_value());
    EXPECT_EQ(ancient->reason, "A session active (9223372036854775807s ago)");
}

} // namespace
