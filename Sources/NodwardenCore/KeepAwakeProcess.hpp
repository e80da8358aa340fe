#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nodwarden {

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

/// One long-lived child process started directly (its standard streams inherited) and always
/// reaped by its owner: once it has been seen to exit, its identifier is never signalled again,
/// so a recycled identifier cannot hit an unrelated process.
class KeepAwakeProcess {
public:
    /// Starts `path` with `arguments`; throws `CommandLaunchError` when the program cannot start.
    static std::shared_ptr<KeepAwakeProcess> launch(const std::string& path,
                                                    const std::vector<std::string>& arguments);

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

    const std::int32_t pid_;
    std::mutex mutex_;
    bool reaped_ = false;
};

} // namespace nodwarden
