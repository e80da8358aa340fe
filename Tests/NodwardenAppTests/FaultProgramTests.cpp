// The real Stayloom binary on a simulated machine, killed and restarted: what a run leaves
// behind when it cannot clean up is repaired by the next start.

#include "AppSupport/FakeMachine.hpp"
#include "AppSupport/ProgramRun.hpp"

#include <NodwardenCore/system/PlatformPaths.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>

using namespace nodwarden;
using namespace stayloom::testing;

namespace {

/// The program built beside this test: <build>/Tests/<this> and <build>/Sources/NodwardenApp.
std::filesystem::path builtProgram() {
    return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "Sources" /
           "NodwardenApp" / "Stayloom";
}

/// One headless run of the program with the machine's home, its output kept in a file.
class HeadlessRun {
public:
    HeadlessRun(const std::filesystem::path& program, const FakeMachine& machine,
                const std::string& name)
        : output_(machine.root() / (name + ".out")) {
        const auto environment = bareEnvironment(machine.home());
        pid_ = ::fork();
        if (pid_ == 0) {
            const int input = ::open("/dev/null", O_RDONLY);
            const int output = ::open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(input, STDIN_FILENO);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            execute(program, {}, environment);
        }
    }
    ~HeadlessRun() { kill(SIGKILL); }
    HeadlessRun(const HeadlessRun&) = delete;
    HeadlessRun& operator=(const HeadlessRun&) = delete;

    /// Sends `signal` and reaps the program.
    void kill(int signal) {
        if (pid_ > 0) {
            ::kill(pid_, signal);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    std::string output() const { return readFile(output_); }
    pid_t pid() const { return pid_; }

private:
    std::filesystem::path output_;
    pid_t pid_ = -1;
};

/// Polls `done` every 50 ms for up to `seconds`; returns whether it came true.
template <typename Predicate> bool eventually(Predicate done, double seconds = 15) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

class FaultProgram : public ::testing::Test {
protected:
    // Orphans of a killed run are reparented here, so the test can see and reap them.
    static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(builtProgram()))
            << "build the Stayloom target first: " << builtProgram();
        // In <root>/bin, the program finds the machine's helpers in ../libexec/stayloom.
        std::filesystem::create_directories(machine.root() / "bin");
        std::filesystem::copy_file(builtProgram(), program());
    }
    std::filesystem::path program() const { return machine.root() / "bin" / "Stayloom"; }
    std::filesystem::path pidFile() const {
        return PlatformPaths::keepAwakePidPath(machine.options().paths);
    }
    std::string diagnosticLog() const {
        return readFile(PlatformPaths::diagnosticLogPath(machine.options().paths));
    }

    FakeMachine machine;
};

} // namespace

TEST_F(FaultProgram, KeepAwakeChildOrphanedByAKilledRunIsEndedByTheNextStart) {
    machine.storeSettings(AppMode::manualKeepAwake, GuardSettings::defaults());
    pid_t orphan = -1;
    {
        HeadlessRun first(program(), machine, "first");
        ASSERT_TRUE(eventually([&] { return !machine.keepAwakeStarts().empty(); }))
            << first.output();
        orphan = machine.keepAwakeStarts().front();
        ASSERT_TRUE(eventually([&] {
            return readFile(pidFile()).find(std::to_string(orphan)) != std::string::npos;
        })) << "the pid file names the child";
        // No chance to clean up.
        first.kill(SIGKILL);
    }
    ASSERT_TRUE(processIsLive(orphan)) << "the child outlives a killed run";

    // The next start finds it through the pid file; with keep-awake off it starts nothing new.
    machine.storeSettings(AppMode::off, GuardSettings::defaults());
    HeadlessRun second(program(), machine, "second");
    EXPECT_TRUE(eventually([&] { return !processIsLive(orphan); })) << second.output();
    ::waitpid(orphan, nullptr, 0);
    EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(pidFile()); }));
    EXPECT_TRUE(eventually([&] {
        return diagnosticLog().find("Killed orphaned keep-awake helper pid " +
                                    std::to_string(orphan) + " left by a previous run") !=
               std::string::npos;
    })) << diagnosticLog();
    EXPECT_EQ(machine.keepAwakeStarts().size(), 1u) << "nothing new was started";
    second.kill(SIGTERM);
}

TEST_F(FaultProgram, UnrunnableCrashingOrRefusingKeepAwakeHelperNeitherStopsNorFloodsTheProgram) {
    struct Case {
        const char* name;
        /// The helper file's contents.
        std::string contents;
        /// How the failed launch is told, in the one line logged for the whole run of failures.
        std::string failure;
    };
    const std::vector<Case> cases{
        // Missing from every place it is looked for is the same launch failure; a build tree
        // always holds one, so the test installs a file that is no program instead.
        {"unrunnable",
         "\x7f"
         "ELF not really\n",
         "Exec format error"},
        // A helper that ends before it reports holding (logind refused its lock) never held the
        // machine: no "Started" line every tick, and nothing shown as holding.
        {"crashing", "#!/bin/sh\nkill -SEGV $$\n", "ended by signal 11 before holding"},
        {"refusing", "#!/bin/sh\necho 'not allowed' >&2\nexit 1\n",
         "exited with status 1 before holding"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto helper = machine.helpers() / "stayloom-inhibit";
        std::filesystem::remove(helper);
        std::ofstream(helper) << testCase.contents;
        ::chmod(helper.c_str(), 0755);
        std::filesystem::remove_all(machine.home() / ".local");
        machine.storeSettings(AppMode::manualKeepAwake, GuardSettings::defaults());
        HeadlessRun run(program(), machine, testCase.name);
        ASSERT_TRUE(eventually([&] {
            return diagnosticLog().find(testCase.failure) != std::string::npos;
        })) << diagnosticLog()
            << run.output();
        // Several ticks (3 s apart) pass with the helper failing each time.
        std::this_thread::sleep_for(std::chrono::seconds(7));
        EXPECT_TRUE(processIsLive(run.pid())) << run.output();
        const std::string log = diagnosticLog();
        const auto count = [&log](const std::string& text) {
            int found = 0;
            for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
                ++found;
            }
            return found;
        };
        EXPECT_EQ(count("Failed to start keep-awake helper: "), 1) << log;
        EXPECT_EQ(count(testCase.failure), 1) << log;
        EXPECT_EQ(count("Started keep-awake helper pid "), 0) << log;
        run.kill(SIGTERM);
    }
}

TEST_F(FaultProgram, SleepSwitchLeftOffByAKilledRunIsRepairedOrSurfacedAtTheNextStart) {
    struct Case {
        const char* name;
        /// Whether the unprivileged "enable" really turns sleep back on.
        bool enableWorks;
        /// Whether "status" hangs past the program's time-out for system tools.
        bool statusHangs;
        /// The log line that tells what the start did.
        std::string logged;
        /// Whether the start could confirm the repair and stop tracking the switch.
        bool confirmed;
    };
    const std::vector<Case> cases{
        {"repaired", true, false, "Sleep switch marker from a previous run found", true},
        {"surfaced", false, false,
         "Launch repair could not confirm the sleep switch back on — surfacing stale-block banner",
         false},
        // A status that never answers is cut off at its time-out: the switch is still turned
        // back on, but with nothing to confirm it, it stays tracked for a retry.
        {"status hangs", true, true,
         "WARNING: the sleep switch may still be off after the restore attempt — keeping it "
         "tracked for retry",
         false},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        // A switch that keeps its state in a file, as the machine does.
        const auto state = machine.root() / (std::string(testCase.name) + ".sleep-disabled");
        std::ofstream(state) << "1";
        const auto helper = machine.helpers() / "stayloom-sleep-switch";
        std::filesystem::remove(helper);
        std::ofstream(helper) << "#!/bin/sh\nstate='" << state.string()
                              << "'\n"
                                 "case \"$1\" in\n"
                              << (testCase.statusHangs ? "  status) exec sleep 60 ;;\n"
                                                       : "  status) echo \" SleepDisabled $(cat "
                                                         "\"$state\")\" ;;\n")
                              << (testCase.enableWorks ? "  enable) echo 0 > \"$state\" ;;\n"
                                                       : "  enable) exit 1 ;;\n")
                              << "esac\n";
        ::chmod(helper.c_str(), 0755);
        // What the killed run left: its marker, and the switch off.
        std::filesystem::remove_all(machine.home() / ".local");
        const auto marker = PlatformPaths::lidClosedMarkerPath(machine.options().paths);
        std::filesystem::create_directories(marker.parent_path());
        std::ofstream(marker).flush();
        machine.storeSettings(AppMode::off, GuardSettings::defaults());

        HeadlessRun run(program(), machine, testCase.name);
        EXPECT_TRUE(eventually(
            [&] { return diagnosticLog().find(testCase.logged) != std::string::npos; }, 30))
            << diagnosticLog();
        EXPECT_TRUE(processIsLive(run.pid())) << run.output();
        if (testCase.enableWorks) {
            // The start logs what it found before it runs the switch, so the switch may still be
            // on the way back when the line appears.
            EXPECT_TRUE(eventually([&] { return readFile(state) == "0\n"; })) << readFile(state);
        }
        if (testCase.confirmed) {
            EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(marker); }))
                << "the repaired switch is no longer tracked";
        } else {
            EXPECT_TRUE(std::filesystem::exists(marker)) << "still tracked for a later repair";
        }
        run.kill(SIGTERM);
    }
}
