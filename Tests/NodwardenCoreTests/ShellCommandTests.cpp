#include <NodwardenCore/system/ShellCommand.hpp>

#include "Support/ScriptedCommandRunner.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace nodwarden;
using stayloom::testing::ScriptedCommandRunner;
using stayloom::testing::TemporaryDirectory;

ShellCommand shell(const std::string& script, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"-c", script, "sh"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return ShellCommand{"/bin/sh", arguments};
}

// Runs `command`; a non-zero exit comes back as the carried result, so tables can treat both
// outcomes alike. Launch errors propagate.
CommandResult outcomeOf(ProcessCommandRunner& runner, const ShellCommand& command) {
    try {
        return runner.run(command);
    } catch (const CommandRunnerError& error) {
        EXPECT_NE(error.result().exitCode, 0) << "a zero exit must never be reported as an error";
        return error.result();
    }
}

// True when this process has no child left, reaped or not.
bool hasNoChildren() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

struct ExitCase {
    const char* name;
    std::string script;
    CommandResult expected;
};

TEST(ProcessCommandRunner, ReportsBothStreamsAndTheExitStatus) {
    const std::vector<ExitCase> cases{
        {"silent success", "true", {0, "", ""}},
        {"standard output", "printf 'hello\\n'", {0, "hello\n", ""}},
        {"both streams", "printf out; printf err >&2", {0, "out", "err"}},
        {"failure with error text", "printf 'boom\\n' >&2; exit 1", {1, "", "boom\n"}},
        {"highest status", "printf partial; exit 255", {255, "partial", ""}},
        {"ended by a signal", "printf x; kill -USR1 $$; sleep 5", {SIGUSR1, "x", ""}},
        {"multibyte text", "printf 'caf\\303\\251 \\342\\202\\254'", {0, "café €", ""}},
    };
    ProcessCommandRunner runner(10);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto result = outcomeOf(runner, shell(testCase.script));
        EXPECT_EQ(result, testCase.expected);
        EXPECT_EQ(result.succeeded(), testCase.expected.exitCode == 0);
    }
}

TEST(ProcessCommandRunner, NonZeroExitCarriesTheWholeResult) {
    ProcessCommandRunner runner(10);
    try {
        runner.run(shell("printf 'so \"far\"'; printf 'no\\tbattery\\n' >&2; exit 3"));
        FAIL() << "a failing command must throw";
    } catch (const CommandRunnerError& error) {
        EXPECT_EQ(error.kind(), CommandRunnerError::Kind::nonZeroExit);
        EXPECT_EQ(error.result(), (CommandResult{3, "so \"far\"", "no\tbattery\n"}));
        EXPECT_STREQ(error.what(), "nonZeroExit(CommandResult(exitCode: 3, standardOutput: \"so "
                                   "\\\"far\\\"\", standardError: \"no\\tbattery\\n\"))");
    }
}

TEST(ProcessCommandRunner, PassesArgumentsUnchanged) {
    ProcessCommandRunner runner(10);
    const auto result =
        runner.run(shell("printf '%s|' \"$@\"", {"a b", "", "\u00fc", "$HOME", "*"}));
    EXPECT_EQ(result.standardOutput, "a b||\u00fc|$HOME|*|");
}

TEST(ProcessCommandRunner, PassesOnlyThePathTheLocaleAndTheVariablesTheToolNeeds) {
    // A tool may hand its environment on (a tmux client gives it to whoever owns the socket):
    // nothing of ours but what it needs may reach it.
    ::setenv("STAYLOOM_RUNNER_PROBE", "needed value", 1);
    ::setenv("STAYLOOM_PLANTED_SECRET", "sk-secret", 1);
    ::setenv("LC_TIME", "C.UTF-8", 1);
    ProcessCommandRunner runner(10);
    const auto listed =
        runner.run(ShellCommand{"/usr/bin/env", {}, {"STAYLOOM_RUNNER_PROBE"}}).standardOutput;
    const auto plain = runner.run(ShellCommand{"/usr/bin/env", {}}).standardOutput;
    ::unsetenv("STAYLOOM_RUNNER_PROBE");
    ::unsetenv("STAYLOOM_PLANTED_SECRET");
    ::unsetenv("LC_TIME");

    std::vector<std::string> expected{"PATH=" + std::string(std::getenv("PATH"))};
    for (const char* name : {"LANG", "LANGUAGE", "LC_ALL"}) {
        if (const char* value = std::getenv(name)) {
            expected.push_back(std::string(name) + "=" + value);
        }
    }
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = plain.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(plain.substr(start, end - start));
    }
    std::erase(lines, "LC_TIME=C.UTF-8");
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected) << plain;
    EXPECT_NE(listed.find("STAYLOOM_RUNNER_PROBE=needed value\n"), std::string::npos) << listed;
    EXPECT_NE(listed.find("LC_TIME=C.UTF-8\n"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("sk-secret"), std::string::npos) << listed;
}

TEST(ProcessCommandRunner, DrainsLargeOutputOnBothStreamsWhileTheChildRuns) {
    constexpr std::size_t twoMiB = 2 * 1024 * 1024;
    ProcessCommandRunner runner(60);
    // Standard error is written only after standard output is complete, and both far exceed
    // a pipe's capacity: the child finishes only if both pipes are read while it runs.
    const auto result = runner.run(shell("head -c 2097152 /dev/zero | tr '\\0' a; "
                                         "head -c 2097152 /dev/zero | tr '\\0' b >&2; "
                                         "printf tail"));
    EXPECT_EQ(result.standardOutput.size(), twoMiB + 4);
    EXPECT_EQ(result.standardOutput, std::string(twoMiB, 'a') + "tail");
    EXPECT_EQ(result.standardError, std::string(twoMiB, 'b'));
}

struct TimeoutCase {
    const char* name;
    std::string script;
    int expectedExitCode;
};

TEST(ProcessCommandRunner, TimeOutEscalatesUntilTheChildEnds) {
    const std::vector<TimeoutCase> cases{
        {"stops at SIGTERM", "exec sleep 30", SIGTERM},
        {"ignores SIGTERM, ended by SIGINT", "trap '' TERM; exec sleep 30", SIGINT},
        {"ignores both, ended by SIGKILL", "trap '' TERM INT; exec sleep 30", SIGKILL},
    };
    ProcessCommandRunner runner(0.1);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(outcomeOf(runner, shell(testCase.script)).exitCode, testCase.expectedExitCode);
    }
    EXPECT_TRUE(hasNoChildren());
}

TEST(ProcessCommandRunner, TimeOutSendsTerminationBeforeInterrupt) {
    ProcessCommandRunner runner(0.1);
    const auto result = outcomeOf(runner, shell("trap 'echo term; trap \"\" TERM' TERM; "
                                                "trap 'echo int; exit 7' INT; "
                                                "while :; do sleep 0.02; done"));
    EXPECT_EQ(result, (CommandResult{7, "term\nint\n", ""}));
}

TEST(ProcessCommandRunner, UnusableTimeOutsStopTheChildAtOnce) {
    for (const double timeout : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(timeout);
        ProcessCommandRunner runner(timeout);
        EXPECT_EQ(outcomeOf(runner, shell("exec sleep 30")).exitCode, SIGTERM);
    }
}

TEST(ProcessCommandRunner, ChildCanBeStoppedEvenWhenTheCallerBlocksOrIgnoresSignals) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigset_t previousMask;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousTerm {};
    ::sigaction(SIGTERM, &ignore, &previousTerm);

    ProcessCommandRunner runner(0.1);
    const auto result = outcomeOf(runner, shell("exec sleep 30"));

    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    EXPECT_EQ(result.exitCode, SIGTERM);
}

TEST(ProcessCommandRunner, LaunchFailuresAreTheirOwnError) {
    TemporaryDirectory folder;
    const auto notExecutable = folder.write("script.sh", "#!/bin/sh\necho hi\n");
    struct LaunchCase {
        const char* name;
        std::string executable;
        int expectedError;
    };
    const std::vector<LaunchCase> cases{
        {"missing", (folder.path() / "no-such-tool").string(), ENOENT},
        {"not executable", notExecutable.string(), EACCES},
        {"a folder", folder.path().string(), EACCES},
    };
    ProcessCommandRunner runner(5);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        try {
            runner.run(ShellCommand{testCase.executable, {}});
            ADD_FAILURE() << "launch must fail";
        } catch (const CommandRunnerError& error) {
            ADD_FAILURE() << "launch failure reported as exit: " << error.what();
        } catch (const CommandLaunchError& error) {
            EXPECT_EQ(error.errorNumber(), testCase.expectedError);
            EXPECT_EQ(error.executable(), testCase.executable);
            EXPECT_EQ(error.systemMessage(),
                      std::generic_category().message(testCase.expectedError));
            EXPECT_EQ(std::string(error.what()),
                      testCase.executable + ": " + error.systemMessage());
        }
    }
    EXPECT_TRUE(hasNoChildren());
}

TEST(ProcessCommandRunner, InvalidUTF8EmptiesOnlyThatStream) {
    struct EncodingCase {
        const char* name;
        const char* octalBytes; // printf format for the bytes under test
        bool valid;
    };
    const std::vector<EncodingCase> cases{
        {"stray continuation byte", "ok\\200", false},
        {"impossible bytes", "\\377\\376", false},
        {"overlong slash", "\\300\\257", false},
        {"UTF-16 surrogate", "\\355\\240\\200", false},
        {"beyond U+10FFFF", "\\364\\220\\200\\200", false},
        {"truncated at the end", "euro \\342\\202", false},
        {"four-byte character", "\\360\\235\\204\\236", true},
        {"highest code point", "\\364\\217\\277\\277", true},
        {"embedded NUL", "a\\000b", true},
    };
    ProcessCommandRunner runner(10);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto result =
            runner.run(shell(std::string("printf '") + testCase.octalBytes + "'; printf fine >&2"));
        EXPECT_EQ(result.standardError, "fine");
        if (testCase.valid) {
            EXPECT_FALSE(result.standardOutput.empty());
        } else {
            EXPECT_EQ(result.standardOutput, "");
        }
    }
}

TEST(ProcessCommandRunner, ReturnsWhenTheChildEndsEvenIfAGrandchildKeepsThePipesOpen) {
    ProcessCommandRunner runner(60);
    // A runner that waited for end of file would hang here until the test harness gives up.
    const auto result = runner.run(shell("sleep 600 & echo $!"));
    const pid_t grandchild = std::stoi(result.standardOutput);
    ::kill(grandchild, SIGKILL);
    EXPECT_GT(grandchild, 0);
    EXPECT_TRUE(hasNoChildren());
}

TEST(ProcessCommandRunner, ServesConcurrentCallersAndReapsEveryChild) {
    ProcessCommandRunner runner(30);
    constexpr int threadCount = 4;
    constexpr int runsPerThread = 8;
    std::vector<std::vector<CommandResult>> results(threadCount);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < threadCount; ++thread) {
        threads.emplace_back([&, thread] {
            for (int run = 0; run < runsPerThread; ++run) {
                const auto tag = std::to_string(thread) + "-" + std::to_string(run);
                results[thread].push_back(outcomeOf(
                    runner, shell("printf %s \"$1\"; printf %s \"$1\" >&2; exit $(($2 % 3))",
                                  {tag, std::to_string(run)})));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int thread = 0; thread < threadCount; ++thread) {
        ASSERT_EQ(results[thread].size(), static_cast<std::size_t>(runsPerThread));
        for (int run = 0; run < runsPerThread; ++run) {
            const auto tag = std::to_string(thread) + "-" + std::to_string(run);
            EXPECT_EQ(results[thread][run], (CommandResult{run % 3, tag, tag}));
        }
    }
    EXPECT_TRUE(hasNoChildren());
}

std::size_t openDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

TEST(ProcessCommandRunner, LeavesNoDescriptorOpenOnAnyPath) {
    if (!std::filesystem::exists("/proc/self/fd")) {
        GTEST_SKIP() << "no descriptor listing on this system";
    }
    ProcessCommandRunner runner(0.1);
    const auto before = openDescriptorCount();
    for (int round = 0; round < 3; ++round) {
        EXPECT_NO_THROW(runner.run(shell("printf ok")));
        EXPECT_THROW(runner.run(shell("exit 4")), CommandRunnerError);
        EXPECT_THROW(runner.run(shell("exec sleep 30")), CommandRunnerError);
        EXPECT_THROW(runner.run(ShellCommand{"/nonexistent/tool", {}}), CommandLaunchError);
    }
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_TRUE(hasNoChildren());
}

TEST(ShellCommand, EqualityComparesProgramAndArgumentsInOrder) {
    const ShellCommand power{"/usr/bin/pmset", {"-g", "batt"}};
    EXPECT_EQ(power, (ShellCommand{"/usr/bin/pmset", {"-g", "batt"}}));
    EXPECT_NE(power, (ShellCommand{"/usr/bin/pmset", {"batt", "-g"}}));
    EXPECT_NE(power, (ShellCommand{"/usr/bin/pmset", {"-g"}}));
    EXPECT_NE(power, (ShellCommand{"/usr/sbin/pmset", {"-g", "batt"}}));
}

TEST(ShellCommand, DescriptionEscapesControlCharacters) {
    const auto error =
        CommandRunnerError::nonZeroExit(CommandResult{-1, std::string("a\\b\r\x01\x7f", 7), "é"});
    EXPECT_STREQ(error.what(), "nonZeroExit(CommandResult(exitCode: -1, standardOutput: "
                               "\"a\\\\b\\r\\u{01}\\u{7f}\\0\", standardError: \"é\"))");
}

TEST(ScriptedCommandRunner, AnswersFromItsScriptLikeTheRealRunner) {
    const ShellCommand power{"/usr/bin/pmset", {"-g", "batt"}};
    const ShellCommand lid{"/usr/sbin/ioreg", {"-r"}};
    ScriptedCommandRunner runner;
    runner.enqueue(power, CommandResult{0, "first", ""});
    runner.enqueue(power, CommandResult{1, "", "denied"});
    runner.enqueueError(power, CommandLaunchError("/usr/bin/pmset", EACCES));
    runner.setStanding(power, CommandResult{0, "standing", ""});

    EXPECT_EQ(runner.run(power).standardOutput, "first");
    try {
        runner.run(power);
        ADD_FAILURE() << "a scripted failure must throw";
    } catch (const CommandRunnerError& error) {
        EXPECT_EQ(error.result().standardError, "denied");
    }
    EXPECT_THROW(runner.run(power), CommandLaunchError);
    EXPECT_EQ(runner.run(power).standardOutput, "standing");
    EXPECT_EQ(runner.run(power).standardOutput, "standing");
    EXPECT_THROW(runner.run(lid), CommandLaunchError);

    EXPECT_EQ(runner.count(power), 5u);
    EXPECT_EQ(runner.commands().size(), 6u);
    EXPECT_EQ(runner.commands().back(), lid);
    EXPECT_EQ(runner.unscriptedCommands(), std::vector<ShellCommand>{lid});
    EXPECT_EQ(runner.pendingCount(), 0u);
}

} // namespace
