#include "AppSupport/ProgramRun.hpp"

#include <array>

namespace stayloom::testing {

namespace {

/// Appends what `fds` have ready within `timeoutMilliseconds` to `streams`; a descriptor at its
/// end becomes -1, which poll passes over.
void readReady(pollfd (&fds)[2], const std::array<std::string*, 2>& streams,
               int timeoutMilliseconds) {
    if (::poll(fds, 2, timeoutMilliseconds) <= 0) {
        return;
    }
    char buffer[4096];
    for (int index = 0; index < 2; ++index) {
        if (fds[index].fd < 0 || (fds[index].revents & (POLLIN | POLLHUP)) == 0) {
            continue;
        }
        const ssize_t count = ::read(fds[index].fd, buffer, sizeof buffer);
        if (count <= 0) {
            fds[index].fd = -1;
            continue;
        }
        streams[std::size_t(index)]->append(buffer, std::size_t(count));
    }
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(::grantpt(master_), 0);
    EXPECT_EQ(::unlockpt(master_), 0);
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(slave_, 0);
}

void PseudoTerminal::type(const std::string& text) const {
    EXPECT_EQ(::write(master_, text.data(), text.size()), ssize_t(text.size()));
}

std::vector<std::string> bareEnvironment(const std::filesystem::path& home,
                                         const std::vector<std::string>& extra) {
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

void execute(const std::filesystem::path& program, const std::vector<std::string>& arguments,
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

ProgramRun::~ProgramRun() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
}

std::optional<int> ProgramRun::waitForExit(double seconds) {
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

void ProgramRun::start(const std::filesystem::path& program, const std::filesystem::path& home,
                       int inputFd, int masterFd, Seat seat,
                       const std::vector<std::string>& extraEnvironment) {
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
            // The session leader stays the terminal's foreground job, as the shell does, and the
            // program runs in a process group of its own.
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

bool ProgramRun::waitFor(const std::string& stream, const std::string& text, double seconds,
                         std::size_t from) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (stream.find(text, from) == std::string::npos && Clock::now() < deadline) {
        readAvailable(100);
    }
    return stream.find(text, from) != std::string::npos;
}

void ProgramRun::readAvailable(int timeoutMilliseconds) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    readReady(fds, {&output_, &errors_}, timeoutMilliseconds);
    if (fromTerminal_) {
        // The terminal turns every newline into a carriage return and a newline.
        std::erase(output_, '\r');
    }
}

CommandOutcome runCommand(const std::filesystem::path& program, const std::filesystem::path& home,
                          const std::vector<std::string>& arguments, double seconds,
                          const std::vector<std::string>& extraEnvironment) {
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
    const auto open = [&] { return fds[0].fd >= 0 || fds[1].fd >= 0; };
    while (open() && Clock::now() < deadline) {
        readReady(fds, {&outcome.output, &outcome.errors}, 100);
    }
    if (open()) {
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
