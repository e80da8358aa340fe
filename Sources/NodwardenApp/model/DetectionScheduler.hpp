#pragma once

#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden {
class FileLogger;
class SerialQueue;
} // namespace nodwarden

namespace nodwarden::app {

struct AppEnvironment;
class ScheduledPass;

/// What one detection pass gathered.
struct DetectionInputs {
    PowerSnapshot power;
    LidState lid = LidState::unknown;
    std::vector<ActivitySignal> perApp;
};

/// The detection passes on the "Nodwarden.Detection" queue, one at a time: power, lid, the
/// agents' signals and the accessibility trust, gathered off the main thread and handed back to
/// it. Lives on the main thread. A pass that does not end is logged once and left behind at quit.
/// Once told to repeat, each pass queues the next itself on the queue, so that between passes
/// neither thread wakes for anything but the pass and what it brings.
class DetectionScheduler : public QObject {
    Q_OBJECT

public:
    /// How long a pass may run before it is logged and decisions go on without it.
    static constexpr double overrunSeconds = 10;
    /// How long `stop` waits for a pass still running before leaving it behind.
    static constexpr int quitWaitMilliseconds = 2000;

    /// Reads the detection services, `clock` and `detectionKeepAlive` of `environment`;
    /// `logger` must outlive this.
    DetectionScheduler(const AppEnvironment& environment, FileLogger& logger,
                       QObject* parent = nullptr);
    /// Stops as `stop` does.
    ~DetectionScheduler() override;
    DetectionScheduler(const DetectionScheduler&) = delete;
    DetectionScheduler& operator=(const DetectionScheduler&) = delete;

    /// Whether a pass is queued or running (a repeat merely due later is neither).
    bool inFlight() const;
    /// Queues a pass over `settings` now; the caller asks only while none is in flight. A repeat
    /// due later gives way to it, and the repeats go on from this pass.
    void queuePass(const GuardSettings& settings);
    /// From the next pass on, each pass starts the next `seconds` after it began itself, over the
    /// settings of the latest `queuePass` or `follow`; 0 ends the repeats.
    void repeatEvery(double seconds);
    /// The settings the repeats gather with from now on.
    void follow(const GuardSettings& settings);
    /// Logs a pass that has overrun, once; true at the moment it is found so, when what the last
    /// pass saw of the agents is no longer current.
    bool checkOverrun();
    /// Waits for the passes queued so far and hands their results over.
    void drain();
    /// Closes the gate (no result reaches the model any more) and gives a running pass
    /// `quitWaitMilliseconds` before leaving it behind.
    void stop();

signals:
    /// A pass ended: what it gathered (none when it failed, which is logged) and the
    /// accessibility trust it read (none when it was not read).
    void passEnded(const std::optional<nodwarden::app::DetectionInputs>& inputs,
                   std::optional<bool> trusted);

private:
    struct Link;
    struct Outcome;

    /// A pass in flight: since when it ran (or, not begun yet, was queued: `pass` 0).
    struct InFlight {
        Date since = 0;
        std::uint64_t pass = 0;
    };

    Date now() const;
    std::optional<InFlight> inFlightNow() const;
    void finish(const Outcome& outcome);
    friend class ScheduledPass;

    FileLogger& logger_;
    std::function<Date()> clock_;
    std::shared_ptr<Link> link_;
    std::shared_ptr<SerialQueue> queue_;
    /// Passes queued by `queuePass` whose outcome has not come back yet.
    int queuedPasses_ = 0;
    std::optional<Date> queuedAt_;
    /// The pass the overrun is counted for, from when.
    std::optional<InFlight> counted_;
    bool overrunLogged_ = false;
};

} // namespace nodwarden::app
