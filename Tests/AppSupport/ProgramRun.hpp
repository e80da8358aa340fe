#pragma once

// Runs of the real program binary: started with a minimal environment for a simulated home, with
// its input from a file descriptor or a pseudo-terminal, and its commands run as a second
// process, as a user would type them.

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace stayloom::testing {

using Clock = std::chrono::steady_clock;

/// A pseudo-terminal: the test holds the master side, the program gets the other.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(::grantpt(master_), 0);
        EXPECT_EQ(::unlockpt(master_), 0);
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(slave_, 0);
    }
    ~PseudoTerminal() {
        ::close(slave_);
        ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    int slave() const { return slave_; }
    /// Types `text` as a user would.
    void type(const std::string& text) const {
        EXPECT_EQ(::write(master_, text.data(), text.size()), ssize_t(text.size()));
    }

private:
    int master_ = -1;
    int slave_ = -1;
};

/// The environment of a headless start on a bare machine: no display, no session bus, no
/// runtime folder; `extra` entries are added, replacing those of the same name.
inline std::vector<std::string> bareEnvironment(const std::filesystem::path& home,
                                                const std::vector<std::string>& extra = {}) {
    std::vector<std::string> environment{"HOME=" + home.string(), "PATH=/usr/bin:/bin",
                                         "LC_ALL=C.UTF-8", "TZ=UTC",
                                         "XDG_RUNTIME_DIR=" + home.string() + "/no-runtime"};
    for (const std::string& entry : extra) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(environment, [&](const std::string& existing) {
            return existing.compare(0, name.size(), name) == 0;
        });
        environment.push_back(entry);
    }
    return environment;
}

[[noreturn]] inline void execute(const std::filesystem::path& program,
                                 const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& environment) {
    std::vector<char*> argv{const_cast<char*>("Stayloom")};
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

/// One run of the program; its standard output and error are read as they come.
class ProgramRun {
public:
    /// How the program meets its user.
    enum class Seat {
        /// Standard input from the given descriptor; output to pipes.
        input,
        /// A terminal window's foreground job: input and output on the terminal.
        terminal,
        /// The same terminal's background job (`stayloom &`).
        backgroundJob,
        /// The terminal's foreground job with its output sent to a pipe (`stayloom > log`).
        outputRedirected,
    };

    /// Standard input from `inputFd`.
    ProgramRun(const std::filesystem::path& program, const std::filesystem::path& home, int inputFd,
               const std::vector<std::string>& extraEnvironment = {}) {
        start(program, home, inputFd, -1, Seat::input, extraEnvironment);
    }
    /// On `terminal`, seated as `seat`.
    ProgramRun(const std::filesystem::path& program, const std::filesystem::path& home,
               const PseudoTerminal& terminal, Seat seat,
               const std::vector<std::string>& extraEnvironment = {}) {
        start(program, home, terminal.slave(), terminal.master(), seat, extraEnvironment);
    }
    ~ProgramRun() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    pid_t pid() const { return pid_; }

    /// Reads output until `text` appears in it after `from` or `seconds` pass.
    bool waitForOutput(const std::string& text, double seconds = 15, std::size_t from = 0) {
        return waitFor(output_, text, seconds, from);
    }
    bool waitForErrors(const std::string& text, double seconds = 15) {
        return waitFor(errors_, text, seconds, 0);
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
    void start(const std::filesystem::path& program, const std::filesystem::path& home, int inputFd,
               int masterFd, Seat seat, const std::vector<std::string>& extraEnvironment) {
        const bool onTerminal = seat == Seat::terminal || seat == Seat::backgroundJob;
        int out[2];
        int err[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        const auto environment = bareEnvironment(home, extraEnvironment);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (seat != Seat::input) {
                // A new session whose controlling terminal is the input, as a terminal window
                // starts its shell.
                ::setsid();
                ::ioctl(inputFd, TIOCSCTTY, 0);
            }
            ::dup2(inputFd, STDIN_FILENO);
            ::dup2(onTerminal ? inputFd : out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            if (seat == Seat::backgroundJob) {
                // The session leader stays the terminal's foreground job, as the shell does,
                // and the program runs in a process group of its own.
                const pid_t job = ::fork();
                if (job == 0) {
                    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                    ::setpgid(0, 0);
                    execute(program, {}, environment);
                }
                int status = 0;
                ::waitpid(job, &status, 0);
                ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
            }
            execute(program, {}, environment);
        }
        ::close(out[1]);
        ::close(err[1]);
        if (onTerminal) {
            ::close(out[0]);
            out_ = ::fcntl(masterFd, F_DUPFD_CLOEXEC, 0);
            fromTerminal_ = true;
        } else {
            out_ = out[0];
        }
        err_ = err[0];
    }

    bool waitFor(const std::string& stream, const std::string& text, double seconds,
                 std::size_t from) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (stream.find(text, from) == std::string::npos && Clock::now() < deadline) {
            readAvailable(100);
        }
        return stream.find(text, from) != std::string::npos;
    }

    void readAvailable(int timeoutMilliseconds) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMilliseconds) <= 0) {
            return;
        }
        char buffer[4096];
        for (int index = 0; index < 2; ++index) {
            if ((fds[index].revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            const ssize_t count = ::read(fds[index].fd, buffer, sizeof buffer);
            if (count <= 0) {
                continue;
            }
            std::string text(buffer, std::size_t(count));
            if (index == 0 && fromTerminal_) {
                // The terminal turns every newline into a carriage return and a newline.
                std::erase(text, '\r');
            }
            (index == 0 ? output_ : errors_) += text;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool fromTerminal_ = false;
    bool exited_ = false;
    std::string output_;
    std::string errors_;
};

/// What a command printed and how it ended.
struct CommandOutcome {
    int exitStatus = -1;
    std::string output;
    std::string errors;
};

/// Runs `stayloom <arguments>` for the same home as a user in a second terminal would, waiting
/// at most `seconds`.
inline CommandOutcome runCommand(const std::filesystem::path& program,
                                 const std::filesystem::path& home,
                                 const std::vector<std::string>& arguments, double seconds = 20,
                                 const std::vector<std::string>& extraEnvironment = {}) {
    int out[2];
    int err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    const auto environment = bareEnvironment(home, extraEnvironment);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int input = ::open("/dev/null", O_RDONLY);
        ::dup2(input, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        execute(program, arguments, environment);
    }
    ::close(out[1]);
    ::close(err[1]);
    CommandOutcome outcome;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && Clock::now() < deadline) {
        if (::poll(fds, 2, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        for (int index = 0; index < 2; ++index) {
            if (fds[index].fd < 0 || (fds[index].revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            const ssize_t count = ::read(fds[index].fd, buffer, sizeof buffer);
            if (count <= 0) {
                fds[index].fd = -1;
                --open;
                continue;
            }
            (index == 0 ? outcome.output : outcome.errors).append(buffer, std::size_t(count));
        }
    }
    if (open > 0) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]);
    ::close(err[0]);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

} // namespace stayloom::testing
