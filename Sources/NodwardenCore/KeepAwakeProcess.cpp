#include <NodwardenCore/KeepAwakeProcess.hpp>

#include <NodwardenCore/ShellCommand.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char** environ;

namespace nodwarden {

namespace {

constexpr double waitStepSeconds = 0.05;

/// Owns the attribute objects of one posix_spawn call.
class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawnattr_init(&attributes);
        ::posix_spawn_file_actions_init(&actions);
        // The child must answer SIGTERM and SIGINT even when the spawning thread blocks them or the
        // application ignores them, or every stop would run into the SIGKILL fallback.
        sigset_t none;
        sigemptyset(&none);
        ::posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
            sigaddset(&defaults, signalNumber);
        }
        ::posix_spawnattr_setsigdefault(&attributes, &defaults);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // A long-lived child must not keep other children's pipe ends open: a reader waiting for
        // end of file would otherwise wait for as long as the keep-awake hold lasts.
        ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
};

} // namespace

void sleepForSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void sendProcessSignal(std::int32_t pid, int signal) {
    ::kill(static_cast<pid_t>(pid), signal);
}

std::shared_ptr<KeepAwakeProcess>
KeepAwakeProcess::launch(const std::string& path, const std::vector<std::string>& arguments) {
    std::vector<std::string> argumentStorage;
    argumentStorage.reserve(arguments.size() + 1);
    argumentStorage.push_back(path);
    argumentStorage.insert(argumentStorage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argumentStorage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    SpawnSetup setup;
    pid_t pid = 0;
    const int error =
        ::posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (error != 0) {
        throw CommandLaunchError(path, error);
    }
    return std::shared_ptr<KeepAwakeProcess>(new KeepAwakeProcess(pid));
}

KeepAwakeProcess::~KeepAwakeProcess() {
    if (reaped_) {
        return;
    }
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) == -1 && errno == EINTR) {
    }
}

bool KeepAwakeProcess::reapIfExitedLocked() {
    if (reaped_) {
        return true;
    }
    for (;;) {
        const pid_t result = ::waitpid(pid_, nullptr, WNOHANG);
        if (result == 0) {
            return false;
        }
        if (result == -1 && errno == EINTR) {
            continue;
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
