#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

using namespace nodwarden;

namespace {

/// A process table of a busy developer machine: mostly unrelated programs and application
/// helpers, a few agents.
std::vector<std::pair<std::string, std::string>> typicalProcessTable() {
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"/usr/sbin/cfprefsd", "/usr/sbin/cfprefsd agent"},
        {"/System/Library/CoreServices/Finder.app/Contents/MacOS/Finder", "Finder"},
        {"/Applications/Google Chrome.app/Contents/Frameworks/Google Chrome Framework.framework/"
         "Helpers/Google Chrome Helper (Renderer).app/Contents/MacOS/Google Chrome Helper "
         "(Renderer)",
         "Google Chrome Helper (Renderer) --type=renderer --lang=en-US --num-raster-threads=4"},
        {"/bin/zsh", "-zsh"},
        {"/usr/local/bin/node", "node /usr/local/lib/node_modules/typescript/lib/tsserver.js"},
        {"/opt/homebrew/bin/python3", "python3 -m http.server 8000"},
        {"/Users/dev/.local/share/claude/versions/2.0.14", "claude --resume"},
        {"/opt/homebrew/bin/node", "node /opt/homebrew/bin/codex exec --full-auto"},
    };
    std::vector<std::pair<std::string, std::string>> table;
    for (int i = 0; i < 500; ++i) {
        // Weighted towards unrelated programs, as on a real machine.
        const auto& row = kinds[static_cast<std::size_t>(i % 50 < 44 ? i % 6 : 6 + i % 2)];
        table.push_back(row);
    }
    return table;
}

void BM_ResolveProcessTable(benchmark::State& state) {
    const AgentResolver resolver = AgentResolver::make(GuardSettings::defaults());
    const auto table = typicalProcessTable();
    for (auto _ : state) {
        int found = 0;
        for (const auto& [path, arguments] : table) {
            found += resolver.profileForCommandPath(path, arguments).has_value() ? 1 : 0;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(table.size()));
}
BENCHMARK(BM_ResolveProcessTable);

/// The same table through the lookup that hands back the watched entry instead of a copy.
void BM_FindProcessTableProfiles(benchmark::State& state) {
    const AgentResolver resolver = AgentResolver::make(GuardSettings::defaults());
    const auto table = typicalProcessTable();
    for (auto _ : state) {
        int found = 0;
        for (const auto& [path, arguments] : table) {
            found += resolver.findProfileForCommandPath(path, arguments) != nullptr ? 1 : 0;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(table.size()));
}
BENCHMARK(BM_FindProcessTableProfiles);

void BM_MakeResolver(benchmark::State& state) {
    const GuardSettings settings = GuardSettings::defaults();
    for (auto _ : state) {
        benchmark::DoNotOptimize(AgentResolver::make(settings));
    }
}
BENCHMARK(BM_MakeResolver);

void BM_FoldCaseAndStripMarks(benchmark::State& state) {
    const std::string text = "Écrire une réponse… Thinking · esc to interrupt — Context left 42%";
    for (auto _ : state) {
        benchmark::DoNotOptimize(UnicodeText::foldCaseAndStripMarks(text));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_FoldCaseAndStripMarks);

} // namespace
