#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <array>
#include <stdexcept>
#include <string>

using namespace nodwarden;

namespace {

constexpr int dayCount = 1100;
constexpr std::array<const char*, 10> agentNames = {
    "Claude Code", "Codex CLI", "Gemini CLI", "Aider",   "Cursor",
    "Windsurf",    "Cline",     "Goose",      "Amp CLI", "OpenCode"};

// Three years of daily use: every day holds entries for ten agents.
std::string threeYearDocument() {
    nlohmann::json days = nlohmann::json::object();
    const Date firstDay = 757382400; // 2025-01-01T00:00:00Z
    for (int day = 0; day < dayCount; ++day) {
        nlohmann::json protectedByAgent = nlohmann::json::object();
        nlohmann::json sessionsByAgent = nlohmann::json::object();
        for (std::size_t agent = 0; agent < agentNames.size(); ++agent) {
            protectedByAgent[agentNames[agent]] = 123.456 * static_cast<double>(agent + 1) + day;
            sessionsByAgent[agentNames[agent]] = static_cast<int>(agent) + day % 7;
        }
        days[UsageMetrics::dayKey(firstDay + day * 86400.0 + 43200)] = {
            {"protectedSeconds", 4321.5 + day},
            {"keptAwakeSeconds", 1234.25},
            {"manualSeconds", 60.0},
            {"pluggedInUnlimitedSeconds", 0.0},
            {"sessionsSaved", 12},
            {"totalSessions", 20},
            {"protectedSecondsByAgent", std::move(protectedByAgent)},
            {"sessionsByAgent", std::move(sessionsByAgent)}};
    }
    return nlohmann::json{{"installDate", firstDay},
                          {"days", std::move(days)},
                          {"longestProtectedRunSeconds", 5400.0},
                          {"longestProtectedRunAgent", "Claude Code"},
                          {"lastTickAt", firstDay + dayCount * 86400.0},
                          {"wakeGapTicksDropped", 17}}
        .dump();
}

const UsageMetrics& threeYearAccount() {
    static const UsageMetrics account = [] {
        auto decoded = UsageMetrics::fromJSON(threeYearDocument());
        if (!decoded) {
            throw std::logic_error("benchmark document does not decode");
        }
        return *decoded;
    }();
    return account;
}

void BM_EncodeThreeYearAccount(benchmark::State& state) {
    const UsageMetrics& account = threeYearAccount();
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = account.toJSON();
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeThreeYearAccount)->Unit(benchmark::kMillisecond);

void BM_DecodeThreeYearAccount(benchmark::State& state) {
    const std::string text = threeYearAccount().toJSON();
    for (auto _ : state) {
        auto decoded = UsageMetrics::fromJSON(text);
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_DecodeThreeYearAccount)->Unit(benchmark::kMillisecond);

// One 3-second tick of an agent working with the lid closed, on the three-year account.
void BM_RecordingProtectedTick(benchmark::State& state) {
    UsageMetrics account = threeYearAccount();
    const std::optional<std::string> agent = std::string("Claude Code");
    Date now = *account.lastTickAt();
    for (auto _ : state) {
        now += 3;
        account =
            UsageMetrics::recording(std::move(account), true, KeepAwakeTrigger::activeSignal,
                                    SignalStrength::strong, LidState::closed, agent, 90, true, now);
    }
    benchmark::DoNotOptimize(account);
}
BENCHMARK(BM_RecordingProtectedTick);

// Sessions of 20 working ticks followed by an idle grace of 30 ticks that closes them.
void BM_RecordingSessionCycle(benchmark::State& state) {
    UsageMetrics account = threeYearAccount();
    const std::optional<std::string> agent = std::string("Codex CLI");
    Date now = *account.lastTickAt();
    int tick = 0;
    for (auto _ : state) {
        now += 3;
        const bool working = tick++ % 50 < 20;
        account = UsageMetrics::recording(
            std::move(account), true,
            working ? KeepAwakeTrigger::activeSignal : KeepAwakeTrigger::idleGrace,
            working ? SignalStrength::strong : SignalStrength::presence, LidState::open, agent, 90,
            std::nullopt, now);
    }
    benchmark::DoNotOptimize(account);
}
BENCHMARK(BM_RecordingSessionCycle);

// The program's per-tick statistics step as it was: the account copied aside for the ledger
// line, copied again into the pure step, and the result moved back.
void BM_ModelTickCopyingTheAccount(benchmark::State& state) {
    UsageMetrics account = threeYearAccount();
    const std::optional<std::string> agent = std::string("Claude Code");
    Date now = *account.lastTickAt();
    for (auto _ : state) {
        now += 3;
        const UsageMetrics before = account;
        UsageMetrics after =
            UsageMetrics::recording(before, true, KeepAwakeTrigger::activeSignal,
                                    SignalStrength::strong, LidState::closed, agent, 90, true, now);
        const bool closed = before.sessionStartedAt() && !after.sessionStartedAt();
        account = std::move(after);
        benchmark::DoNotOptimize(closed);
    }
    benchmark::DoNotOptimize(account);
}
BENCHMARK(BM_ModelTickCopyingTheAccount)->Unit(benchmark::kMicrosecond);

// The program's per-tick statistics step now: the open session kept aside without the days, the
// account changed in place.
void BM_ModelTickInPlace(benchmark::State& state) {
    UsageMetrics account = threeYearAccount();
    const std::optional<std::string> agent = std::string("Claude Code");
    Date now = *account.lastTickAt();
    for (auto _ : state) {
        now += 3;
        std::optional<UsageMetrics> openSession;
        if (account.sessionStartedAt()) {
            openSession = account.withoutDays();
        }
        const bool daysChanged =
            account.record(true, KeepAwakeTrigger::activeSignal, SignalStrength::strong,
                           LidState::closed, agent, 90, true, now);
        benchmark::DoNotOptimize(daysChanged);
        benchmark::DoNotOptimize(openSession);
    }
    benchmark::DoNotOptimize(account);
}
BENCHMARK(BM_ModelTickInPlace)->Unit(benchmark::kMicrosecond);

void BM_RunLogLine(benchmark::State& state) {
    UsageMetrics account = threeYearAccount();
    const Date start = *account.lastTickAt();
    for (Date now = start + 3; now <= start + 60; now += 3) {
        account = UsageMetrics::recording(std::move(account), true, KeepAwakeTrigger::activeSignal,
                                          SignalStrength::strong, LidState::closed,
                                          "vendor/Claude \"Code\"", 90, true, now);
    }
    for (auto _ : state) {
        std::string line = UsageMetrics::runLogLine(
            account, SessionCloseReason::idle, *account.lastTickAt(), true, 12, LidState::closed);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_RunLogLine);

} // namespace
