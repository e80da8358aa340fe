#include <NodwardenCore/sleep/KeepAwakeProcess.hpp>

#include <NodwardenCore/system/ChildEnvironment.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenCore/system/SpawnAttributes.hpp>
#include <NodwardenCore/system/UniqueFd.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nodwarden {

namespace {

constexpr double waitStepSeconds = 0.05;
/// The descriptor number the child finds its readiness pipe at.
constexpr int readyDescriptor = 3;
constexpr std::string_view readyWord = "READY=1\n";
/// How long a child that closed its readiness pipe gets to finish exiting, so its status can be
/// told.
constexpr double exitAfterCloseSeconds = 1.0;

/// Owns the set-up of one posix_spawn call.
class SpawnSetup {
public:
    /// `readyWriteEnd` >= 0 becomes the child's descriptor `readyDescriptor`; `notesWriteEnd`
    /// >= 0 its standard output and error.
    SpawnSetup(int readyWriteEnd, int notesWriteEnd) {
        ::posix_spawn_file_actions_init(&actions);
        if (notesWriteEnd >= 0) {
            ::posix_spawn_file_actions_adddup2(&actions, notesWriteEnd, STDOUT_FILENO);
            ::posix_spawn_file_actions_adddup2(&actions, notesWriteEnd, STDERR_FILENO);
        }
        int firstToClose = readyDescriptor;
        if (readyWriteEnd >= 0) {
            ::posix_spawn_file_actions_adddup2(&actions, readyWriteEnd, readyDescriptor);
            firstToClose = readyDescriptor + 1;
        }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // A long-lived child must not keep other children's pipe ends open: a reader waiting for
        // end of file would otherwise wait for as long as the keep-awake hold lasts.
        ::posix_spawn_file_actions_addclosefrom_np(&actions, firstToClose);
#else
        (void)firstToClose;
#endif
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    /// The child must answer SIGTERM and SIGINT even when the spawning thread blocks them or the
    /// application ignores them, or every stop would run into the SIGKILL fallback.
    const SpawnAttributes attributes{SpawnSignalPolicy::ownChild};
    posix_spawn_file_actions_t actions;
};

/// A pipe end numbered above the child's fixed descriptors: a dup2 onto itself would leave
/// close-on-exec set.
UniqueFd aboveFixedDescriptors(int fd) {
    UniqueFd moved(::fcntl(fd, F_DUPFD_CLOEXEC, readyDescriptor + 1));
    ::close(fd);
    return moved;
}

/// Hands each line read from `fd` to `notes` until end of file.
void readNotes(UniqueFd fd, const std::function<void(const std::string&)>& notes) {
    std::string pending;
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(count));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            notes(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty()) {
        notes(pending);
    }
}

} // namespace

KeepAwakeContract KeepAwakeContract::linuxHelper() {
    // The helper reaches logind on the system bus and the desktop's inhibitor on the session bus,
    // which sd-bus finds through XDG_RUNTIME_DIR when no address is given; it reports what it
    // holds there too. A bare X server's blanking is held through DISPLAY, and the desktop's
    // name says which idle manager is to be heeded.
    return KeepAwakeContract{
        .readinessTimeoutSeconds = 10.0,
        .processRoot = "/proc",
        .passedVariables = {"DBUS_SYSTEM_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS",
                            "XDG_RUNTIME_DIR", "DISPLAY", "XAUTHORITY", "XDG_CURRENT_DESKTOP"},
        .formerNames = {"caffeinate"},
    };
}

void sleepForSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void sendProcessSignal(std::int32_t pid, int signal) {
    ::kill(static_cast<pid_t>(pid), signal);
}

std::shared_ptr<KeepAwakeProcess>
KeepAwakeProcess::launch(const std::string& path, const std::vector<std::string>& arguments,
                         std::optional<double> readinessTimeoutSeconds,
                         const std::vector<std::string>& passedVariables, const std::string& why,
                         std::function<void(const std::string&)> notes) {
    std::vector<std::string> argumentStorage;
    argumentStorage.reserve(arguments.size() + 1);
    argumentStorage.push_back(path);
    argumentStorage.insert(argumentStorage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argumentStorage.size() + 1);
    for (auto& argument : argumentStorage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    UniqueFd readEnd;
    UniqueFd writeEnd;
    ChildEnvironment environment(passedVariables);
    // Lets the helper tell whether the program that started it is still there, so that it can
    // let go of its locks when the program dies, however it dies.
    environment.set("STAYLOOM_PARENT_PID", std::to_string(::getpid()));
    if (!why.empty()) {
        environment.set("STAYLOOM_WHY", why);
    }
    if (readinessTimeoutSeconds) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw CommandLaunchError(path, errno);
        }
        readEnd.reset(ends[0]);
        writeEnd = aboveFixedDescriptors(ends[1]);
        if (writeEnd.get() < 0) {
            throw CommandLaunchError(path, errno);
        }
        environment.set("STAYLOOM_READY_FD", std::to_string(readyDescriptor));
    }
    UniqueFd notesReadEnd;
    UniqueFd notesWriteEnd;
    if (notes) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw CommandLaunchError(path, errno);
        }
        notesReadEnd.reset(ends[0]);
        notesWriteEnd = aboveFixedDescriptors(ends[1]);
        if (notesWriteEnd.get() < 0) {
            throw CommandLaunchError(path, errno);
        }
    }

    SpawnSetup setup(writeEnd.get(), notesWriteEnd.get());
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, path.c_str(), &setup.actions, setup.attributes.get(),
                                    argv.data(), environment.data());
    if (error != 0) {
        throw CommandLaunchError(path, error);
    }
    auto child = std::shared_ptr<KeepAwakeProcess>(new KeepAwakeProcess(pid));
    if (notes) {
        notesWriteEnd.reset();
        child->notesReader_ = std::thread(readNotes, std::move(notesReadEnd), std::move(notes));
    }
    if (readinessTimeoutSeconds) {
        // Only the child may hold the write end now, so its exit is an end of file here.
        writeEnd.reset();
        // On a throw the child is released here: killed if it still runs, and reaped.
        child->awaitReadiness(readEnd.get(), *readinessTimeoutSeconds, path);
    }
    return child;
}

void KeepAwakeProcess::awaitReadiness(int fd, double timeoutSeconds, const std::string& path) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    std::string received;
    for (;;) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            std::ostringstream limit;
            limit << timeoutSeconds;
            throw KeepAwakeStartError(path + " did not report holding the machine awake within " +
                                      limit.str() + " s");
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(remaining.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue; // the deadline check above ends the wait
        }
        char buffer[64];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (count > 0) {
            received.append(buffer, static_cast<std::size_t>(count));
            if (received.find(readyWord) != std::string::npos) {
                return;
            }
            continue;
        }
        break; // end of file: the child ended, or gave up its report, without holding
    }
    for (double waited = 0; waited < exitAfterCloseSeconds && isRunning();
         waited += waitStepSeconds) {
        sleepForSeconds(waitStepSeconds);
    }
    if (isRunning()) {
        throw KeepAwakeStartError(path +
                                  " closed its readiness report without holding the machine awake");
    }
    throw KeepAwakeStartError(path + " " + describeExit() + " before holding the machine awake");
}

std::string KeepAwakeProcess::describeExit() {
    std::lock_guard guard(mutex_);
    if (!waitStatus_) {
        return "ended";
    }
    if (WIFEXITED(*waitStatus_)) {
        return "exited with status " + std::to_string(WEXITSTATUS(*waitStatus_));
    }
    if (WIFSIGNALED(*waitStatus_)) {
        return "ended by signal " + std::to_string(WTERMSIG(*waitStatus_));
    }
    return "ended";
}

KeepAwakeProcess::~KeepAwakeProcess() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) == -1 && errno == EINTR) {
        }
    }
    if (notesReader_.joinable()) {
        notesReader_.join();
    }
}

bool KeepAwakeProcess::reapIfExitedLocked() {
    if (reaped_) {
        return true;
    }
    for (;;) {
        int status = 0;
        const pid_t result = ::waitpid(pid_, &status, WNOHANG);
        if (result == 0) {
            return false;
        }
        if (result == -1 && errno == EINTR) {
            continue;
        }
        if (result == pid_) {
            waitStatus_ = status;
        }
        // Either reaped now, or no longer ours to wait for; in both cases never signal it again.
        reaped_ = true;
        return true;
    }
}

bool KeepAwakeProcess::isRunning() {
    std::lock_guard guard(mutex_);
    return !reapIfExitedLocked();
}

void KeepAwakeProcess::sendSignal(int signalNumber, const ProcessControl& control) {
    std::lock_guard guard(mutex_);
    if (!reaped_) {
        control.sendSignal(pid_, signalNumber);
    }
}

bool KeepAwakeProcess::waitForExit(double limitSeconds, const ProcessControl& control) {
    double waited = 0;
    for (;;) {
        control.sleepFor(waitStepSeconds);
        if (!isRunning()) {
            return true;
        }
        waited += waitStepSeconds;
        if (!(waited < limitSeconds)) {
            return false;
        }
    }
}

} // namespace nodwarden
