#include <NodwardenCore/detection/ProcessDetector.hpp>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using nodwarden::ProcessSnapshot;

constexpr int tableSize = 1000;
constexpr int agentTrees = 20;

/// A busy Mac's table: system daemons, browser and editor helpers, and 20 agent trees of a
/// dozen processes each, started in the usual ways (by name, through node, from a versioned
/// install folder, inside an editor's terminal).
std::vector<ProcessSnapshot> syntheticTable() {
    std::vector<ProcessSnapshot> rows;
    std::int32_t nextPID = 2;
    rows.emplace_back(1, 0, 0.0, "/sbin/launchd", "/sbin/launchd");

    const std::string code = "/Applications/Visual Studio Code.app/Contents";
    const std::int32_t editor = nextPID++;
    rows.emplace_back(editor, 1, 2.0, code + "/MacOS/Electron", code + "/MacOS/Electron");
    const std::int32_t terminal = nextPID++;
    rows.emplace_back(terminal, 1, 1.0,
                      "/System/Applications/Utilities/Terminal.app/Contents/MacOS/Terminal", "");

    for (int tree = 0; tree < agentTrees; ++tree) {
        const std::int32_t host = tree % 4 == 3 ? editor : terminal;
        const std::int32_t shell = nextPID++;
        rows.emplace_back(shell, host, 0.0, "/bin/zsh", "-zsh");
        const std::int32_t agent = nextPID++;
        switch (tree % 4) {
        case 0:
            rows.emplace_back(agent, shell, 4.0, "claude", "claude --resume");
            break;
        case 1:
            rows.emplace_back(agent, shell, 1.0, "node",
                              "node /opt/homebrew/bin/codex exec fix the build");
            break;
        case 2:
            rows.emplace_back(agent, shell, 3.0, "/Users/me/.local/share/claude/versions/2.0.14",
                              "claude");
            break;
        default:
            rows.emplace_back(agent, shell, 2.5, "/Users/me/.local/bin/gemini", "gemini");
            break;
        }
        for (int child = 0; child < 10; ++child) {
            const std::int32_t parent = child % 3 == 2 ? nextPID - 1 : agent;
            rows.emplace_back(nextPID++, parent, 0.7, "node",
                              "node /Users/me/.npm/_npx/5f2c/node_modules/.bin/mcp-server-" +
                                  std::to_string(child) + " --stdio");
        }
    }
    for (int helper = 0; static_cast<int>(rows.size()) < tableSize; ++helper) {
        if (helper % 5 == 0) {
            rows.emplace_back(nextPID++, editor, 0.4,
                              code + "/Frameworks/Code Helper (Renderer).app/Contents/MacOS/"
                                     "Code Helper (Renderer)",
                              code + "/Frameworks/Code Helper (Renderer).app/Contents/MacOS/"
                                     "Code Helper (Renderer) --type=renderer");
        } else {
            rows.emplace_back(nextPID++, 1, 0.1,
                              "/System/Library/PrivateFrameworks/Daemon" + std::to_string(helper) +
                                  ".framework/Versions/A/Resources/daemon" + std::to_string(helper),
                              "/System/Library/PrivateFrameworks/Daemon" + std::to_string(helper) +
                                  ".framework/Versions/A/Resources/daemon" +
                                  std::to_string(helper) + " --launchd");
        }
    }
    return rows;
}

void detectOnTable(benchmark::State& state, std::vector<std::string> targets) {
    const auto table = syntheticTable();
    const nodwarden::GuardSettings settings{.targetApps = std::move(targets)};
    const nodwarden::ProcessDetector detector(std::shared_ptr<nodwarden::ProcessTableReading>{});
    for (auto _ : state) {
        auto signals = detector.detectPerApp(table, settings, std::nullopt);
        if (signals.size() != 4) { // Claude Code, Codex CLI, Gemini CLI, Visual Studio Code
            state.SkipWithError("unexpected signals");
            break;
        }
        benchmark::DoNotOptimize(signals);
    }
    state.counters["processes"] = static_cast<double>(table.size());
}

/// Default settings: catalog agents only.
void BM_DetectPerAppOnTable(benchmark::State& state) {
    detectOnTable(state, {});
}
BENCHMARK(BM_DetectPerAppOnTable)->Unit(benchmark::kMicrosecond);

/// With one user target, which every unattributed process is also matched against.
void BM_DetectPerAppOnTableWithTarget(benchmark::State& state) {
    detectOnTable(state, {"MyTool"});
}
BENCHMARK(BM_DetectPerAppOnTableWithTarget)->Unit(benchmark::kMicrosecond);

void BM_ParsePSOutput(benchmark::State& state) {
    std::string listing;
    for (const auto& row : syntheticTable()) {
        listing += std::to_string(row.pid) + " " + std::to_string(row.parentPID) + " " +
                   std::to_string(row.cpuPercent) + " " + row.command + "\n";
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(nodwarden::ProcessDetector::parsePSOutput(listing));
    }
}
BENCHMARK(BM_ParsePSOutput)->Unit(benchmark::kMicrosecond);

} // namespace
