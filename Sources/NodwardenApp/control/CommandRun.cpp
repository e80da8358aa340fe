#include <NodwardenApp/control/CommandRun.hpp>

#include <NodwardenApp/control/ControlClient.hpp>
#include <NodwardenCore/sleep/KeepAwakeProcess.hpp>
#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/system/SpawnAttributes.hpp>

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <spawn.h>
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

/// Ignores the terminal's interrupt and quit keys for as long as it lives, as `system` does: they
/// reach the command, and this process stays to release the hold once the command is gone.
class TerminalKeysIgnored {
public:
    TerminalKeysIgnored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGINT, &ignore, &interrupt_);
        ::sigaction(SIGQUIT, &ignore, &quit_);
    }
    ~TerminalKeysIgnored() {
        ::sigaction(SIGINT, &interrupt_, nullptr);
        ::sigaction(SIGQUIT, &quit_, nullptr);
    }
    TerminalKeysIgnored(const TerminalKeysIgnored&) = delete;
    TerminalKeysIgnored& operator=(const TerminalKeysIgnored&) = delete;

private:
    struct sigaction interrupt_ {};
    struct sigaction quit_ {};
};

/// Points this process's standard output at /dev/null for as long as it lives, so a child started
/// meanwhile inherits that: the helper's progress lines must not mix into the command's output,
/// which scripts read. Its errors still reach standard error.
class OutputSilenced {
public:
    OutputSilenced() : saved_(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
    ~OutputSilenced() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
        }
    }
    OutputSilenced(const OutputSilenced&) = delete;
    OutputSilenced& operator=(const OutputSilenced&) = delete;

private:
    int saved_;
};

/// Starts the command with the default action for every signal this process ignores.
int spawnCommand(const std::vector<std::string>& command, pid_t& pid) {
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const SpawnAttributes attributes(SpawnSignalPolicy::userCommand);
    return ::posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv.data(), environ);
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
        const OutputSilenced quietHelper;
        // The display may sleep: a script needs the computer, not the screen.
        hold = KeepAwakeProcess::launch(
            helperPath->string(), SleepController::keepAwakeArguments(true),
            contract.readinessTimeoutSeconds, contract.passedVariables, name + " is running");
    } catch (const std::exception& error) {
        complain(errors, std::string("cannot keep the computer awake: ") + error.what());
        return holdFailedStatus;
    }

    int status = 0;
    {
        const TerminalKeysIgnored keys;
        pid_t pid = 0;
        if (const int error = spawnCommand(command, pid); error != 0) {
            complain(errors, command.front() + ": " + std::strerror(error));
            status = error == ENOENT ? notFoundStatus : notExecutableStatus;
        } else {
            tellRunningCopy(socketPath, "started", name);
            status = waitForCommand(pid);
            tellRunningCopy(socketPath, "ended", name);
        }
    }
    hold->sendSignal(SIGTERM, ProcessControl{});
    // One that does not go in time is killed when `hold` is released.
    hold->waitForExit(helperStopSeconds, ProcessControl{});
    return status;
}

} // namespace nodwarden::app
