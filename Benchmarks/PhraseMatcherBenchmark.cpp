#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/PhraseMatcher.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

using nodwarden::AgentProfile;
using nodwarden::AgentResolver;
using nodwarden::GuardSettings;
using nodwarden::PhraseMatcher;

namespace {

/// A terminal screen of 300 fragments, the most one application's walk collects. `accented`
/// mixes in non-ASCII text, which takes the full Unicode folding path.
std::string terminalScreen(bool accented) {
    const std::vector<std::string> lines = {
        "drwxr-xr-x  12 dev  staff   384 Dec  8 01:12 Sources",
        "$ git status --short",
        " M Sources/NodwardenCore/detection/ActivityDetector.cpp",
        accented ? "Résumé des modifications — déjà testé" : "Summary of changes - already tested",
        "Compiling NodwardenCore (target 14 of 52)",
        "\tat nodwarden::collectText(AccessibilityDetector.cpp:212)",
        accented ? "✻ Réflexion en cours… ⏵⏵ auto-accept edits on"
                 : "* Thinking... >> auto-accept edits on",
        "Read 3 files, edited 2 files (ctrl+r to expand)",
    };
    std::string screen;
    for (int fragment = 0; fragment < 300; ++fragment) {
        if (fragment > 0) {
            screen += ' ';
        }
        screen += lines[static_cast<std::size_t>(fragment) % lines.size()];
    }
    return screen;
}

std::vector<AgentProfile> terminalScanProfiles() {
    return AgentResolver::make(GuardSettings::defaults()).terminalScanProfiles();
}

/// What the design describes: each profile's matcher folds the whole screen again.
void BM_MatchEveryTerminalProfile(benchmark::State& state) {
    const std::string screen = terminalScreen(state.range(0) != 0);
    const std::vector<AgentProfile> profiles = terminalScanProfiles();
    for (auto _ : state) {
        for (const AgentProfile& profile : profiles) {
            benchmark::DoNotOptimize(
                PhraseMatcher{profile.activePhrases, profile.idlePhrases}.match(screen));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(screen.size()));
    state.SetLabel(std::to_string(profiles.size()) + " profiles, " + std::to_string(screen.size()) +
                   " bytes");
}
BENCHMARK(BM_MatchEveryTerminalProfile)->ArgName("accented")->Arg(0)->Arg(1);

/// What the detector does for a terminal: fold the screen once, then match every profile.
void BM_FoldOnceMatchEveryTerminalProfile(benchmark::State& state) {
    const std::string screen = terminalScreen(state.range(0) != 0);
    const std::vector<AgentProfile> profiles = terminalScanProfiles();
    for (auto _ : state) {
        const std::string normalized = PhraseMatcher::normalizedText(screen);
        for (const AgentProfile& profile : profiles) {
            benchmark::DoNotOptimize(
                PhraseMatcher{profile.activePhrases, profile.idlePhrases}.matchNormalized(
                    normalized));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(screen.size()));
}
BENCHMARK(BM_FoldOnceMatchEveryTerminalProfile)->ArgName("accented")->Arg(0)->Arg(1);

} // namespace
