// How long an agent waits for `stayloom hook`: the whole program, started by a shell named like
// the agent with the event's JSON on its input, when no copy runs (the socket is looked for and
// missing). The same shell running /bin/true is the floor every hook pays.

#include "Support/TemporaryDirectory.hpp"

#include <NodwardenCore/system/ShellCommand.hpp>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace {

using nodwarden::ProcessCommandRunner;
using nodwarden::ShellCommand;

/// A folder with `claude` (a link to the shell) and an empty home, removed at the end.
class AgentFolder {
public:
    AgentFolder() {
        std::filesystem::create_directories(folder_.path() / "home");
        std::filesystem::create_symlink("/bin/sh", agent());
    }

    std::filesystem::path agent() const { return folder_.path() / "claude"; }
    /// A hook line as the agent's configuration has it, in a home where no copy runs.
    std::string hookLine(const std::string& program) const {
        return "echo '{\"session_id\":\"s1\",\"hook_event_name\":\"UserPromptSubmit\","
               "\"prompt\":\"a prompt\"}' | HOME='" +
               (folder_.path() / "home").string() + "' XDG_RUNTIME_DIR='" +
               (folder_.path() / "home").string() + "' '" + program +
               "' hook claude UserPromptSubmit";
    }

private:
    stayloom::testing::TemporaryDirectory folder_;
};

void BM_HookWithNoCopyRunning(benchmark::State& state) {
    AgentFolder folder;
    ProcessCommandRunner runner(8);
    const ShellCommand command{folder.agent().string(),
                               {"-c", folder.hookLine(STAYLOOM_PROGRAM_PATH)}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner.run(command));
    }
}
BENCHMARK(BM_HookWithNoCopyRunning)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SameShellRunningTrue(benchmark::State& state) {
    AgentFolder folder;
    ProcessCommandRunner runner(8);
    const ShellCommand command{folder.agent().string(), {"-c", folder.hookLine("/bin/true")}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner.run(command));
    }
}
BENCHMARK(BM_SameShellRunningTrue)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
