#include <NodwardenCore/system/ShellCommand.hpp>

#include <NodwardenCore/system/ChildEnvironment.hpp>
#include <NodwardenCore/system/SpawnAttributes.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>
#include <NodwardenCore/system/UniqueFd.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace nodwarden {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long we sleep between looks at a quiet child; bounds how late completion is noticed.
constexpr auto pollInterval = 50ms;
constexpr auto interruptDelay = 200ms;
// Bytes read per read(2); one chatty stream yields to the other after a few of these.
constexpr std::size_t chunkSize = 64 * 1024;
constexpr std::size_t chunksPerTurn = 16;
// After the child is gone a grandchild may still hold a pipe open and keep writing;
// the final sweep takes what is there and no more than this.
constexpr std::size_t chunksAfterExit = 256;
// Caps absurd time-outs so the deadline arithmetic cannot overflow.
constexpr double longestTimeoutSeconds = 365.0 * 24 * 3600;

struct Pipe {
    UniqueFd readEnd;
    UniqueFd writeEnd;
};

// Close-on-exec from birth, so a child spawned concurrently by another thread never inherits
// our write end (which would keep the pipe open long after our own child is gone).
Pipe makePipe(const std::string& executable) {
    int fds[2];
#if defined(__linux__)
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw CommandLaunchError(executable, errno);
    }
#else
    if (::pipe(fds) != 0) {
        throw CommandLaunchError(executable, errno);
    }
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
    const int flags = ::fcntl(pipe.readEnd.get(), F_GETFL);
    ::fcntl(pipe.readEnd.get(), F_SETFL, flags | O_NONBLOCK);
    return pipe;
}

/// One output stream of the child, read without blocking into memory.
struct StreamCollector {
    UniqueFd fd;
    std::string bytes;

    // Reads what is available now, at most `maxChunks` reads; closes the stream at its end.
    void drain(std::size_t maxChunks) {
        std::array<char, chunkSize> buffer;
        for (std::size_t chunk = 0; fd.isOpen() && chunk < maxChunks;) {
            const ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
            if (count > 0) {
                bytes.append(buffer.data(), static_cast<std::size_t>(count));
                ++chunk;
            } else if (count < 0 && errno == EINTR) {
                continue;
            } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                fd.reset(); // end of file, or a read error we cannot recover from
            }
        }
    }
};

/// Owns the child's pid until it has been reaped; never lets a zombie escape, even on unwind.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            waitBlocking();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void signal(int number) const {
        if (!status_) {
            ::kill(pid_, number);
        }
    }

    // True once the child has ended and been reaped.
    bool poll() {
        if (status_) {
            return true;
        }
        for (;;) {
            int status = 0;
            const pid_t result = ::waitpid(pid_, &status, WNOHANG);
            if (result == pid_) {
                status_ = status;
                return true;
            }
            if (result == 0) {
                return false;
            }
            if (errno == EINTR) {
                continue;
            }
            // ECHILD: someone else reaped it (SIGCHLD ignored by the host); the status is lost.
            status_ = statusUnknown;
            return true;
        }
    }

    std::int32_t exitCode() const {
        if (!status_ || *status_ == statusUnknown) {
            return -1;
        }
        if (WIFEXITED(*status_)) {
            return WEXITSTATUS(*status_);
        }
        if (WIFSIGNALED(*status_)) {
            return WTERMSIG(*status_);
        }
        return -1;
    }

private:
    static constexpr int statusUnknown = -1;

    void waitBlocking() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
    }

    pid_t pid_;
    std::optional<int> status_;
};

class SpawnSetup {
public:
    SpawnSetup(int stdoutFd, int stderrFd) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawn_file_actions_adddup2(&actions_, stdoutFd, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&actions_, stderrFd, STDERR_FILENO);
    }
    ~SpawnSetup() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    /// The host may block or ignore SIGTERM/SIGINT (to route them to its own quit path); a
    /// child inheriting that could never be stopped at its time-out.
    const posix_spawnattr_t* attributes() const { return attributes_.get(); }

private:
    posix_spawn_file_actions_t actions_;
    const SpawnAttributes attributes_{SpawnSignalPolicy::ownChild};
};

pid_t launch(const ShellCommand& command, int stdoutFd, int stderrFd) {
    std::vector<char*> argv;
    argv.reserve(command.arguments.size() + 2);
    argv.push_back(const_cast<char*>(command.executable.c_str()));
    for (const auto& argument : command.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    ChildEnvironment environment(command.passedVariables);
    const SpawnSetup setup(stdoutFd, stderrFd);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, command.executable.c_str(), setup.actions(),
                                    setup.attributes(), argv.data(), environment.data());
    if (error != 0) {
        throw CommandLaunchError(command.executable, error);
    }
    return pid;
}

// A descriptor that becomes readable when the child ends, so its exit is noticed at once
// rather than at the next look; closed (-1) where the system offers none.
UniqueFd watchForExit(pid_t pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
    // Through syscall(2): the C library's own declaration lacks C linkage in some releases.
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
    (void)pid;
    return UniqueFd();
#endif
}

std::string decodedOrEmpty(std::string bytes) {
    return UnicodeText::isValidUTF8(bytes) ? std::move(bytes) : std::string();
}

Clock::duration boundedTimeout(double seconds) {
    if (!(seconds > 0)) { // also catches NaN
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, longestTimeoutSeconds)));
}

void appendQuoted(std::string& out, const std::string& text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (const char character : text) {
        switch (character) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (static_cast<unsigned char>(character) < 0x20 || character == 0x7f) {
                const auto byte = static_cast<unsigned char>(character);
                out += "\\u{";
                out += hex[byte >> 4];
                out += hex[byte & 0xf];
                out += '}';
            } else {
                out += character;
            }
        }
    }
    out += '"';
}

// A child past its time-out is asked to end, then interrupted, then killed.
class Escalation {
public:
    explicit Escalation(Clock::duration timeout) : nextAt_(Clock::now() + timeout) {}

    Clock::time_point nextAt() const { return nextAt_; }
    bool isDue(Clock::time_point now) const { return now >= nextAt_; }

    void signalNext(Child& child, Clock::time_point now) {
        switch (stage_) {
        case Stage::running:
            child.signal(SIGTERM);
            stage_ = Stage::terminated;
            nextAt_ = now + interruptDelay;
            break;
        case Stage::terminated:
            child.signal(SIGINT);
            stage_ = Stage::interrupted;
            nextAt_ = now + boundedTimeout(ProcessCommandRunner::forceKillDelaySeconds);
            break;
        case Stage::interrupted:
            child.signal(SIGKILL);
            stage_ = Stage::killed;
            nextAt_ = Clock::time_point::max();
            break;
        case Stage::killed:
            break;
        }
    }

private:
    enum class Stage { running, terminated, interrupted, killed };
    Stage stage_ = Stage::running;
    Clock::time_point nextAt_;
};

} // namespace

std::string describeCurrentFailure() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

std::string describe(const CommandResult& result) {
    std::string text = "CommandResult(exitCode: " + std::to_string(result.exitCode);
    text += ", standardOutput: ";
    appendQuoted(text, result.standardOutput);
    text += ", standardError: ";
    appendQuoted(text, result.standardError);
    text += ')';
    return text;
}

CommandRunnerError::CommandRunnerError(Kind kind, CommandResult result)
    : std::runtime_error("nonZeroExit(" + describe(result) + ")"), kind_(kind),
      result_(std::move(result)) {}

CommandRunnerError CommandRunnerError::nonZeroExit(CommandResult result) {
    return CommandRunnerError(Kind::nonZeroExit, std::move(result));
}

CommandLaunchError::CommandLaunchError(std::string executable, int errorNumber)
    : std::runtime_error(executable + ": " + std::generic_category().message(errorNumber)),
      executable_(std::move(executable)), errorNumber_(errorNumber),
      systemMessage_(std::generic_category().message(errorNumber)) {}

ProcessCommandRunner::ProcessCommandRunner(double timeoutSeconds)
    : timeoutSeconds_(timeoutSeconds) {}

CommandResult ProcessCommandRunner::run(const ShellCommand& command) {
    Pipe outPipe = makePipe(command.executable);
    Pipe errPipe = makePipe(command.executable);
    const pid_t childPid = launch(command, outPipe.writeEnd.get(), errPipe.writeEnd.get());
    Child child(childPid);
    // Only the child may hold the write ends now, so end of file means it closed them.
    outPipe.writeEnd.reset();
    errPipe.writeEnd.reset();

    const UniqueFd exitWatch = watchForExit(childPid);
    std::array<StreamCollector, 2> streams{StreamCollector{std::move(outPipe.readEnd), {}},
                                           StreamCollector{std::move(errPipe.readEnd), {}}};

    Escalation escalation(boundedTimeout(timeoutSeconds_));
    // With both streams closed and no exit watch, the child is about to exit; look again soon,
    // then back off.
    Clock::duration idleNap = 200us;

    while (!child.poll()) {
        const auto now = Clock::now();
        if (escalation.isDue(now)) {
            escalation.signalNext(child, now);
            continue; // the signal may already have ended it
        }
        const auto untilEscalation =
            std::chrono::ceil<std::chrono::milliseconds>(escalation.nextAt() - now);
        const auto wait = std::min<std::chrono::milliseconds>(pollInterval, untilEscalation);

        std::array<pollfd, 3> watched{};
        nfds_t count = 0;
        for (const auto& stream : streams) {
            if (stream.fd.isOpen()) {
                watched[count++] = pollfd{stream.fd.get(), POLLIN, 0};
            }
        }
        if (exitWatch.isOpen()) {
            watched[count++] = pollfd{exitWatch.get(), POLLIN, 0};
        }
        if (count == 0) {
            std::this_thread::sleep_for(std::min<Clock::duration>(idleNap, wait));
            idleNap = std::min<Clock::duration>(idleNap * 2, pollInterval);
            continue;
        }
        const int ready = ::poll(watched.data(), count, static_cast<int>(wait.count()));
        if (ready > 0) {
            for (auto& stream : streams) {
                stream.drain(chunksPerTurn);
            }
        }
    }

    // Whatever the child wrote before it ended is still in the pipes; take it without waiting
    // for end of file, which a lingering grandchild could postpone for ever.
    for (auto& stream : streams) {
        stream.drain(chunksAfterExit);
    }

    CommandResult result{child.exitCode(), decodedOrEmpty(std::move(streams[0].bytes)),
                         decodedOrEmpty(std::move(streams[1].bytes))};
    if (!result.succeeded()) {
        throw CommandRunnerError::nonZeroExit(std::move(result));
    }
    return result;
}

} // namespace nodwarden
