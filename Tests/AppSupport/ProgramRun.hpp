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
    PseudoTerminal();
    ~PseudoTerminal() {
        ::close(slave_);
        ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    int slave() const { return slave_; }
    /// Types `text` as a user would.
    void type(const std::string& text) const;

private:
    int master_ = -1;
    int slave_ = -1;
};

/// The environment of a headless start on a bare machine: no display, no session bus, no
/// runtime folder; `extra` entries are added, replacing those of the same name.
std::vector<std::string> bareEnvironment(const std::filesystem::path& home,
                                         const std::vector<std::string>& extra = {});

/// Replaces this process with `program`, started with `arguments` in exactly `environment`.
[[noreturn]] void execute(const std::filesystem::path& program,
                          const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment);

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
    ~ProgramRun();
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
    std::optional<int> waitForExit(double seconds);

    const std::string& output() const { return output_; }
    const std::string& errors() const { return errors_; }

private:
    void start(const std::filesystem::path& program, const std::filesystem::path& home, int inputFd,
               int masterFd, Seat seat, const std::vector<std::string>& extraEnvironment);

    bool waitFor(const std::string& stream, const std::string& text, double seconds,
                 std::size_t from);

    void readAvailable(int timeoutMilliseconds);

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
CommandOutcome runCommand(const std::filesystem::path& program, const std::filesystem::path& home,
                          const std::vector<std::string>& arguments, double seconds = 20,
                          const std::vector<std::string>& extraEnvironment = {});

} // namespace stayloom::testing
