#pragma once

#include <NodwardenCore/Export.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Sleeps the calling thread for `seconds`.
void sleepForSeconds(double seconds);

/// Sends `signal` to process `pid`; failures (no such process, no permission) are ignored.
void sendProcessSignal(std::int32_t pid, int signal);

/// The two primitives behind stopping a child: a short sleep and a signal. The defaults act on the
/// real system; a substitute can count the sleeps or hold back a signal, to observe a child that
/// outlives its SIGKILL.
struct ProcessControl {
    std::function<void(double seconds)> sleepFor = sleepForSeconds;
    std::function<void(std::int32_t pid, int signal)> sendSignal = sendProcessSignal;
};

/// What the platform's keep-awake program promises beyond running until it is signalled.
struct KeepAwakeContract {
    /// Seconds the program may take to write "READY=1" to the descriptor named by the
    /// STAYLOOM_READY_FD variable once it holds the machine; its start alone proves nothing then,
    /// and an exit before that is a failed launch. None: the program reports nothing and its
    /// start is the hold.
    std::optional<double> readinessTimeoutSeconds;
    /// The procfs mount where an orphan from an earlier run is recognised by its executable and
    /// start time. None: by its command name through `ps`.
    std::optional<std::filesystem::path> processRoot;
    /// The variables of our environment the program needs besides PATH and the locale; it also
    /// gets STAYLOOM_PARENT_PID (and STAYLOOM_READY_FD when it reports readiness), nothing else.
    std::vector<std::string> passedVariables = {};
    /// Names the program had in earlier releases, in its own folder: a run of an older release
    /// may have left one of them behind, still holding the machine.
    std::vector<std::string> formerNames = {};

    /// The Linux helper: reports readiness, and orphans are checked in /proc.
    static KeepAwakeContract linuxHelper();

    bool operator==(const KeepAwakeContract&) const = default;
};

/// A keep-awake child that started but ended, or never said it held the machine, in time.
class KeepAwakeStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// One long-lived child process started directly (its standard streams inherited, or its notes
/// handed to a sink) and always reaped by its owner: once it has been seen to exit, its identifier
/// is never signalled again, so a recycled identifier cannot hit an unrelated process.
class KeepAwakeProcess {
public:
    /// Starts `path` with `arguments` and an environment of PATH, the locale, `passedVariables`,
    /// STAYLOOM_PARENT_PID (this process's id) and STAYLOOM_WHY (`why`, unless empty); throws
    /// `CommandLaunchError` when the program cannot start. With `readinessTimeoutSeconds`, returns
    /// only once the child reported that it holds the machine, and throws `KeepAwakeStartError`
    /// (the child ended and reaped) when it did not. With `notes`, each line the child writes to
    /// its standard output or error goes to `notes` (on a thread of its own, until the child
    /// is gone) rather than to this process's terminal.
    static std::shared_ptr<KeepAwakeProcess>
    launch(const std::string& path, const std::vector<std::string>& arguments,
           std::optional<double> readinessTimeoutSeconds = std::nullopt,
           const std::vector<std::string>& passedVariables = {}, const std::string& why = {},
           std::function<void(const std::string&)> notes = {});

    /// A child still running at this point is killed outright and waited for.
    ~KeepAwakeProcess();
    KeepAwakeProcess(const KeepAwakeProcess&) = delete;
    KeepAwakeProcess& operator=(const KeepAwakeProcess&) = delete;

    std::int32_t pid() const { return pid_; }

    /// Whether the child has not exited yet; an exited child is reaped by this call.
    bool isRunning();

    /// Sends `signal` through `control` unless the child has already been reaped.
    void sendSignal(int signalNumber, const ProcessControl& control);

    /// Waits in 0.05-second sleeps, counted rather than timed, until the child exits or the sleeps
    /// add up to `limitSeconds`; true when the child has exited.
    bool waitForExit(double limitSeconds, const ProcessControl& control);

private:
    explicit KeepAwakeProcess(std::int32_t pid) : pid_(pid) {}

    /// Reaps the child if it has exited; the caller holds `mutex_`.
    bool reapIfExitedLocked();
    /// Reads `fd` until "READY=1" arrives; throws `KeepAwakeStartError` on end of file or time-out.
    void awaitReadiness(int fd, double timeoutSeconds, const std::string& path);
    /// "exited with status N" or "ended by signal N", once the child has been reaped.
    std::string describeExit();

    const std::int32_t pid_;
    /// Reads the child's notes until it is gone; joined once the child is reaped.
    std::thread notesReader_;
    std::mutex mutex_;
    bool reaped_ = false;
    std::optional<int> waitStatus_;
};

} // namespace nodwarden
