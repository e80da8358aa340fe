#include <NodwardenApp/control/CommandRun.hpp>

#include <NodwardenApp/control/ControlClient.hpp>
#include <NodwardenCore/sleep/KeepAwakeProcess.hpp>
#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <variant>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ; // NOLINT: the command gets the caller's whole environment

namespace nodwarden::app {

namespace {

/// How long a running copy gets to take note of the command; it only adds a row.
constexpr int noticeTimeoutMilliseconds = 1000;
/// How long the helper gets to let go of its locks once asked.
constexpr double helperStopSeconds = 5;

void complain(std::FILE* errors, const std::string& text) {
    std::fprintf(errors, "stayloom run: %s\n", text.c_str());
}

/// Tells the running copy, if any, that the command started or ended; nothing when none runs.
void tellRunningCopy(const std::optional<std::filesystem::path>& socketPath, const char* event,
                     const std::string& name) {
    if (!socketPath) {
        return;
    }
    const QJsonObject request{{QStringLiteral("command"), QStringLiteral("run")},
                              {QStringLiteral("event"), QString::fromUtf8(event)},
                              {QStringLiteral("name"), QString::fromLocal8Bit(name)},
                              {QStringLiteral("pid"), qint64(::getpid())}};
    ControlClient::exchange(*socketPath,
                            QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n',
                            QDeadlineTimer(noticeTimeoutMilliseconds));
}

/// The program's name without its folder: what the row shows.
std::string programName(const std::string& program) {
    return std::filesystem::path(program).filename().string();
}

/// The command's pid while it runs, for the handler that passes signals on.
std::atomic<pid_t> runningCommand{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void passOn(int signal, siginfo_t* info, void* /*context*/) {
    // The terminal's keys and hang-up reach the command's process group already, from the
    // kernel; a second copy would be a second Ctrl-C, which agents take as "quit now".
    if (info != nullptr && info->si_code == SI_KERNEL) {
        return;
    }
    const pid_t pid = runningCommand.load();
    if (pid > 0) {
        ::kill(pid, signal);
    }
}

/// For as long as it lives, SIGTERM, SIGHUP and SIGINT sent to this process are passed to the
/// command and this process stays to release the hold once the command is gone, as
/// `systemd-inhibit` does; the quit key is ignored, as `system` does. A signal ignored from the
/// start (`nohup`) stays ignored, for the command too.
class SignalsPassedOn {
public:
    SignalsPassedOn() {
        struct sigaction handler {};
        handler.sa_sigaction = passOn;
        handler.sa_flags = SA_SIGINFO | SA_RESTART;
        sigfillset(&handler.sa_mask);
        for (std::size_t index = 0; index < passed.size(); ++index) {
            ::sigaction(passed[index], nullptr, &saved_[index]);
            if (saved_[index].sa_handler != SIG_IGN) {
                ::sigaction(passed[index], &handler, nullptr);
            }
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGQUIT, &ignore, &quit_);
    }
    ~SignalsPassedOn() {
        for (std::size_t index = 0; index < passed.size(); ++index) {
            ::sigaction(passed[index], &saved_[index], nullptr);
        }
        ::sigaction(SIGQUIT, &quit_, nullptr);
    }
    SignalsPassedOn(const SignalsPassedOn&) = delete;
    SignalsPassedOn& operator=(const SignalsPassedOn&) = delete;

private:
    static constexpr std::array<int, 3> passed{SIGTERM, SIGHUP, SIGINT};
    std::array<struct sigaction, 3> saved_{};
    struct sigaction quit_ {};
};

/// The file `program` names, looked up in PATH as a shell would; an errno when there is none.
std::variant<std::string, int> resolve(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char* searchPath = std::getenv("PATH");
    const std::string folders = searchPath != nullptr ? searchPath : "/usr/local/bin:/usr/bin:/bin";
    int error = ENOENT;
    for (std::size_t start = 0; start <= folders.size();) {
        const auto end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end == start ? "." : folders.substr(start, end - start);
        std::string candidate = folder;
        candidate += "/";
        candidate += program;
        struct stat status {};
        if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
            error = EACCES;
        }
        start = end + 1;
    }
    return error;
}

/// Starts the command with the signals this process handles or ignores for itself back at
/// their defaults. Should this process be killed outright, the command gets SIGTERM: the hold
/// ends with this process, so the command must not run on without it.
int spawnCommand(const std::vector<std::string>& command, pid_t& pid) {
    const auto program = resolve(command.front());
    if (const int* error = std::get_if<int>(&program)) {
        return *error;
    }
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    int report[2] = {-1, -1};
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return errno;
    }
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) {
        // Only calls safe after fork from here to exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(CommandRun::holdFailedStatus);
        }
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (const int signal : {SIGINT, SIGQUIT, SIGPIPE}) {
            ::sigaction(signal, &standard, nullptr);
        }
        for (const int signal : {SIGTERM, SIGHUP}) {
            struct sigaction current {};
            ::sigaction(signal, nullptr, &current);
            if (current.sa_handler != SIG_IGN) {
                ::sigaction(signal, &standard, nullptr);
            }
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(std::get<std::string>(program).c_str(), argv.data(), environ);
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
        ::_exit(CommandRun::notExecutableStatus);
    }
    ::close(report[1]);
    int error = pid < 0 ? errno : 0;
    if (pid > 0) {
        ssize_t count = 0;
        while ((count = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        if (count == sizeof error) {
            ::waitpid(pid, nullptr, 0);
        } else {
            error = 0;
        }
    }
    ::close(report[0]);
    return error;
}

int waitForCommand(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) {
            return CommandRun::holdFailedStatus;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int CommandRun::run(const std::vector<std::string>& command, const HelperSearchPath& helpers,
                    const std::optional<std::filesystem::path>& socketPath, std::FILE* errors) {
    const auto helperPath = helpers.locate(HelperNames::keepAwake);
    if (!helperPath) {
        complain(errors, "the keep-awake helper " + std::string(HelperNames::keepAwake) +
                             " is not installed next to this program");
        return holdFailedStatus;
    }
    const KeepAwakeContract contract = KeepAwakeContract::linuxHelper();
    // The lock names the program it is held for, never its arguments.
    const std::string name = programName(command.front());
    std::shared_ptr<KeepAwakeProcess> hold;
    try {
        // The display may sleep: a script needs the computer, not the screen. The helper's notes
        // go to the log: the command's output, which scripts read, is the command's alone.
        hold = KeepAwakeProcess::launch(
            helperPath->string(), SleepController::keepAwakeArguments(true),
            contract.readinessTimeoutSeconds, contract.passedVariables, name + " is running",
            [](const std::string& line) { FileLogger::shared().log(line); });
    } catch (const std::exception& error) {
        complain(errors, std::string("cannot keep the computer awake: ") + error.what());
        return holdFailedStatus;
    }

    int status = 0;
    {
        // Held until the command's pid is known, so a signal that comes meanwhile is passed on.
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
            sigaddset(&held, signal);
        }
        sigset_t before;
        ::sigprocmask(SIG_BLOCK, &held, &before);
        const SignalsPassedOn passing;
        pid_t pid = 0;
        const int error = spawnCommand(command, pid);
        if (error == 0) {
            runningCommand.store(pid);
        }
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        if (error != 0) {
            complain(errors,
                     UnicodeText::shownOnTerminal(command.front()) + ": " + std::strerror(error));
            status = error == ENOENT ? notFoundStatus : notExecutableStatus;
        } else {
            tellRunningCopy(socketPath, "started", name);
            status = waitForCommand(pid);
            runningCommand.store(0);
            tellRunningCopy(socketPath, "ended", name);
        }
    }
    hold->sendSignal(SIGTERM, ProcessControl{});
    // One that does not go in time is killed when `hold` is released.
    hold->waitForExit(helperStopSeconds, ProcessControl{});
    return status;
}

} // namespace nodwarden::app
