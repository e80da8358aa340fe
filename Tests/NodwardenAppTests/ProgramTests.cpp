// The real Stayloom binary, started headless on a simulated machine.

#include "FakeMachine.hpp"

#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/platform/HeadlessWindowPresenter.hpp>
#include <NodwardenApp/platform/HelperLocator.hpp>
#include <NodwardenApp/platform/TerminalTermsPrompt.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/types.h>

using namespace nodwarden;
using namespace stayloom::testing;
using Clock = std::chrono::steady_clock;

namespace {

/// One run of the program: its standard output and error read through pipes.
class ProgramRun {
public:
    /// Starts `program` with a minimal environment for `home`; standard input is `inputFd`,
    /// made the controlling terminal of a new session when `terminal` (as a terminal window
    /// starts a shell).
    ProgramRun(const std::filesystem::path& program, const std::filesystem::path& home, int inputFd,
               bool terminal = false) {
        int out[2];
        int err[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        // No display, no session bus, no runtime folder: a headless start on a bare machine.
        const std::vector<std::string> environment{
            "HOME=" + home.string(), "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "TZ=UTC",
            "XDG_RUNTIME_DIR=" + home.string() + "/no-runtime"};
        pid_ = ::fork();
        if (pid_ == 0) {
            if (terminal) {
                ::setsid();
                ::ioctl(inputFd, TIOCSCTTY, 0);
            }
            ::dup2(inputFd, STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            std::vector<char*> envp;
            for (const auto& entry : environment) {
                envp.push_back(const_cast<char*>(entry.c_str()));
            }
            envp.push_back(nullptr);
            ::execle(program.c_str(), "Stayloom", static_cast<char*>(nullptr), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~ProgramRun() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    pid_t pid() const { return pid_; }

    /// Reads output until `text` appears in it or `seconds` pass; returns whether it appeared.
    bool waitForOutput(const std::string& text, double seconds = 15) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (output_.find(text) == std::string::npos && Clock::now() < deadline) {
            readAvailable(100);
        }
        return output_.find(text) != std::string::npos;
    }

    /// Sends `signal` and waits up to `seconds` for the exit; the wait status, or none.
    std::optional<int> stop(int signal, double seconds) {
        ::kill(pid_, signal);
        return waitForExit(seconds);
    }
    std::optional<int> waitForExit(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                readAvailable(0);
                return status;
            }
            readAvailable(20);
        }
        return std::nullopt;
    }

    const std::string& output() const { return output_; }
    const std::string& errors() const { return errors_; }

private:
    void readAvailable(int timeoutMilliseconds) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMilliseconds) <= 0) {
            return;
        }
        char buffer[4096];
        for (int index = 0; index < 2; ++index) {
            if ((fds[index].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t count = ::read(fds[index].fd, buffer, sizeof buffer);
                if (count > 0) {
                    (index == 0 ? output_ : errors_).append(buffer, std::size_t(count));
                }
            }
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
    std::string output_;
    std::string errors_;
};

/// A machine with a copy of the real program in its bin folder, so it finds the machine's fake
/// helpers in ../libexec/stayloom as an installed copy finds its own.
class InstalledProgram {
public:
    InstalledProgram() {
        std::filesystem::create_directories(machine.root() / "bin");
        std::filesystem::copy_file(STAYLOOM_PROGRAM_PATH, program());
    }
    std::filesystem::path program() const { return machine.root() / "bin" / "Stayloom"; }

    FakeMachine machine;
};

/// Processes whose parent is this test program. Run as a subreaper, anything the program leaves
/// behind when it ends is reparented here and shows up.
std::vector<pid_t> childrenOfThisProcess() {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string stat = readFile(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        pid_t parent = 0;
        fields >> state >> parent;
        if (parent == ::getpid()) {
            children.push_back(pid_t(std::stoi(name)));
        }
    }
    return children;
}

class ProgramTests : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

    int devNull() {
        null_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        return null_;
    }
    void TearDown() override {
        if (null_ >= 0) {
            ::close(null_);
        }
    }

    int null_ = -1;
};

} // namespace

TEST_F(ProgramTests, HeadlessRunPrintsStatusAndEndsItsKeepAwakeChildOnTerminate) {
    InstalledProgram installed;
    installed.machine.storeSettings(AppMode::manualKeepAwake, GuardSettings::defaults());

    ProgramRun run(installed.program(), installed.machine.home(), devNull());
    ASSERT_TRUE(run.waitForOutput("Keeping Awake — ")) << run.output() << run.errors();
    const std::string line = run.output().substr(run.output().find("Keeping Awake — "));
    // Agents running elsewhere on this machine may show in the count; the form is fixed.
    EXPECT_TRUE(std::regex_search(
        line, std::regex("^Keeping Awake — [^\n]+ · (none detected|[0-9]+ working)\n")))
        << line;
    for (int wait = 0; wait < 100 && installed.machine.keepAwakeStarts().empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(installed.machine.keepAwakeStarts().size(), 1u);
    const pid_t hold = installed.machine.keepAwakeStarts().front();
    EXPECT_TRUE(processIsLive(hold));

    const auto status = run.stop(SIGTERM, 5);
    ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM";
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by a signal: " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 0) << run.errors();
    EXPECT_EQ(installed.machine.countRecorded("caffeinate", "stop " + std::to_string(hold)), 1);
    EXPECT_EQ(childrenOfThisProcess(), std::vector<pid_t>()) << "a child outlived the program";
    EXPECT_FALSE(std::filesystem::exists(installed.machine.stateFolder() / "caffeinate.pid"));
    EXPECT_NE(readFile(installed.machine.stateFolder() / "Nodwarden.log")
                  .find("] Application terminating\n"),
              std::string::npos);
}

TEST_F(ProgramTests, SecondStartForTheSameUserIsRefusedAndTheFirstKeepsRunning) {
    InstalledProgram installed;
    installed.machine.storeSettings(AppMode::off, GuardSettings::defaults());

    ProgramRun first(installed.program(), installed.machine.home(), devNull());
    ASSERT_TRUE(first.waitForOutput("Off — ")) << first.errors();

    ProgramRun second(installed.program(), installed.machine.home(), devNull());
    const auto refused = second.waitForExit(10);
    ASSERT_TRUE(refused.has_value());
    ASSERT_TRUE(WIFEXITED(*refused));
    EXPECT_EQ(WEXITSTATUS(*refused), 1);
    EXPECT_NE(second.errors().find("Stayloom is already running for this user (process " +
                                   std::to_string(first.pid()) + ")"),
              std::string::npos)
        << second.errors();
    EXPECT_EQ(second.output(), "");
    EXPECT_TRUE(processIsLive(first.pid()));

    const auto status = first.stop(SIGINT, 5);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    // Once the first has ended, the next start runs.
    ProgramRun third(installed.program(), installed.machine.home(), devNull());
    EXPECT_TRUE(third.waitForOutput("Off — ")) << third.errors();
    EXPECT_TRUE(third.stop(SIGTERM, 5).has_value());
}

struct FirstRunCase {
    const char* name;
    bool terminal;
    const char* answer;
    bool accepted;
};

// CTest lists each case by this text rather than by its bytes.
void PrintTo(const FirstRunCase& example, std::ostream* out) {
    *out << example.name;
}

class FirstRunTests : public ProgramTests, public ::testing::WithParamInterface<FirstRunCase> {};

TEST_P(FirstRunTests, TermsAreAskedOnATerminalAndOnlyYesStartsTheGuard) {
    const FirstRunCase& example = GetParam();
    InstalledProgram installed;

    int input = -1;
    int terminal = -1;
    if (example.terminal) {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(terminal, 0);
        ASSERT_EQ(::grantpt(terminal), 0);
        ASSERT_EQ(::unlockpt(terminal), 0);
        input = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(input, 0);
    } else {
        input = devNull();
    }

    ProgramRun run(installed.program(), installed.machine.home(), input, example.terminal);
    const std::string gated = "Accept the Terms & Privacy Policy to enable keep-awake.";
    if (example.terminal) {
        ASSERT_TRUE(run.waitForOutput(std::string(app::TerminalTermsPrompt::question)))
            << run.errors();
        EXPECT_EQ(run.output().rfind("Welcome to Stayloom\n", 0), 0u) << run.output();
        EXPECT_NE(run.output().find("Privacy Policy: file://"), std::string::npos)
            << "a copy on this computer, readable offline";
        ASSERT_EQ(::write(terminal, example.answer, std::strlen(example.answer)),
                  ssize_t(std::strlen(example.answer)));
        if (example.accepted) {
            EXPECT_TRUE(run.waitForOutput("Off — Stayloom is off · ")) << run.output();
        } else {
            EXPECT_TRUE(run.waitForOutput(std::string(app::TerminalTermsPrompt::declined)));
            // The end of input (Ctrl+D) closes the question; the gated status follows.
            ASSERT_EQ(::write(terminal, "\x04", 1), 1);
            EXPECT_TRUE(run.waitForOutput(std::string(app::TerminalTermsPrompt::noAnswer)));
            EXPECT_TRUE(run.waitForOutput("Off — " + gated)) << run.output();
        }
    } else {
        EXPECT_TRUE(run.waitForOutput("Off — " + gated)) << run.output();
        EXPECT_NE(run.errors().find(app::HeadlessWindowPresenter::cannotAsk), std::string::npos)
            << run.errors();
    }
    ASSERT_TRUE(run.stop(SIGTERM, 5).has_value());

    const std::string stored = readFile(installed.machine.settingsFile());
    EXPECT_EQ(stored.find("Stayloom.acceptedLegalVersion=" +
                          app::PlatformWording::linuxDesktop().legalVersion.toStdString()) !=
                  std::string::npos,
              example.accepted)
        << stored;
    if (terminal >= 0) {
        ::close(input);
        ::close(terminal);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, FirstRunTests,
                         ::testing::Values(FirstRunCase{"yes", true, "y\n", true},
                                           FirstRunCase{"no", true, "n\n", false},
                                           FirstRunCase{"noTerminal", false, "", false}),
                         [](const ::testing::TestParamInfo<FirstRunCase>& parameter) {
                             return std::string(parameter.param.name);
                         });

TEST(ProgramHelpersTests, LookedForNextToTheProgramFirstThenInTheBuildTree) {
    const auto search = app::HelperSearchPath::standard("/opt/stayloom/bin/Stayloom");
    ASSERT_GE(search.folders.size(), 2u);
    EXPECT_EQ(search.folders[0], "/opt/stayloom/libexec/stayloom");
    // The build tree of this very build holds the real helpers.
    EXPECT_TRUE(search.locate(app::HelperNames::keepAwake).has_value());
    EXPECT_TRUE(search.locate(app::HelperNames::sleepSwitch).has_value());
}
