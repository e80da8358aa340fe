#include <NodwardenCore/system/ShellCommand.hpp>

#include <benchmark/benchmark.h>

namespace {

using nodwarden::ProcessCommandRunner;
using nodwarden::ShellCommand;

// Latency of one complete call for the cheapest possible tool: spawn, notice the exit, reap.
void BM_RunTrue(benchmark::State& state) {
    ProcessCommandRunner runner(8);
    const ShellCommand command{"/bin/true", {}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner.run(command));
    }
}
BENCHMARK(BM_RunTrue)->Unit(benchmark::kMillisecond)->UseRealTime();

// A tool that prints a listing about the size of a full process table.
void BM_RunListing(benchmark::State& state) {
    ProcessCommandRunner runner(8);
    const ShellCommand command{"/bin/sh", {"-c", "head -c 262144 /dev/zero | tr '\\0' x"}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner.run(command));
    }
    state.SetBytesProcessed(state.iterations() * 262144);
}
BENCHMARK(BM_RunListing)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
