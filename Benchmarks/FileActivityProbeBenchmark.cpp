#include "Support/TemporaryDirectory.hpp"

#include <NodwardenCore/detection/FileActivityProbe.hpp>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

/// `prefix` followed by `number` (and `suffix`), built by appending: GCC 12 warns falsely on
/// the plain concatenation at -O3.
std::string numbered(const char* prefix, int number, const char* suffix = "") {
    std::string name = prefix;
    name += std::to_string(number);
    name += suffix;
    return name;
}

constexpr int projectCount = 200;
constexpr int transcriptsPerProject = 100;
constexpr int transcriptCount = projectCount * transcriptsPerProject;

/// A home folder shaped like a busy agent user's: 200 project folders holding 20,000
/// transcripts, with some unrelated files and a second agent's tree beside them.
class SyntheticHome {
public:
    SyntheticHome() {
        for (int project = 0; project < projectCount; ++project) {
            const auto folder =
                root() / ".claude" / "projects" / numbered("-Users-me-src-project-", project);
            fs::create_directories(folder / "notes");
            std::ofstream(folder / "notes" / "todo.md") << "x";
            for (int index = 0; index < transcriptsPerProject; ++index) {
                std::ofstream(folder / numbered("session-", index, ".jsonl")) << "{}\n";
            }
        }
        for (int index = 0; index < 50; ++index) {
            fs::create_directories(root() / ".cache" / numbered("c", index));
        }
        fs::create_directories(root() / ".codex" / "log");
        std::ofstream(root() / ".codex" / "log" / "codex-tui.log") << "x";
    }
    const fs::path& root() const { return folder_.path(); }

private:
    stayloom::testing::TemporaryDirectory folder_;
};

const SyntheticHome& home() {
    static const SyntheticHome instance;
    return instance;
}

void setPerFileCounter(benchmark::State& state) {
    state.counters["per_file"] =
        benchmark::Counter(transcriptCount, benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
}

void BM_SessionModifications(benchmark::State& state) {
    const nodwarden::FileActivityProbe probe(home().root(), 8);
    const std::vector<std::string> patterns = {".claude/projects/**/*.jsonl"};
    for (auto _ : state) {
        const auto found = probe.sessionModifications(patterns);
        if (found.size() != static_cast<std::size_t>(transcriptCount)) {
            state.SkipWithError("unexpected match count");
            break;
        }
        benchmark::DoNotOptimize(found);
    }
    setPerFileCounter(state);
}
BENCHMARK(BM_SessionModifications)->Unit(benchmark::kMillisecond);

void BM_NewestModification(benchmark::State& state) {
    const nodwarden::FileActivityProbe probe(home().root(), 8);
    const std::vector<std::string> patterns = {".claude/projects/**/*.jsonl",
                                               ".codex/log/codex-tui.log"};
    for (auto _ : state) {
        benchmark::DoNotOptimize(probe.newestModification(patterns));
    }
    setPerFileCounter(state);
}
BENCHMARK(BM_NewestModification)->Unit(benchmark::kMillisecond);

} // namespace
