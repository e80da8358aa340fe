#include <NodwardenApp/model/DetectionScheduler.hpp>

#include <NodwardenApp/model/AppEnvironment.hpp>
#include <NodwardenApp/model/QueuedDelivery.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/LidStateProviding.hpp>
#include <NodwardenCore/detection/PowerSnapshotProviding.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <QCoreApplication>

#include <chrono>
#include <exception>
#include <mutex>
#include <utility>

namespace nodwarden::app {

using detail::runThenDeliver;

/// What every pass shares with the scheduler. A pass that does not end is left behind at quit
/// and may go on after the scheduler is gone: it reaches the services only through this link,
/// which keeps them alive, and the scheduler only through the gate, which is closed first.
struct DetectionScheduler::Link {
    explicit Link(const AppEnvironment& environment)
        : power(environment.power), lid(environment.lid), accessibility(environment.accessibility),
          detect(environment.detectPerApp), clock(environment.clock),
          owners(environment.detectionKeepAlive) {}

    PowerSnapshotProviding* power;
    LidStateProviding* lid;
    AccessibilityDetector* accessibility;
    std::function<std::vector<ActivitySignal>(const GuardSettings&, const PowerSnapshot&, Date)>
        detect;
    std::function<Date()> clock;
    std::vector<std::shared_ptr<void>> owners;

    bool isOpen() const {
        const std::lock_guard lock(mutex);
        return open;
    }

    /// Runs `hand` (which hands a result over) unless the gate is closed; the scheduler cannot
    /// be destroyed while a result is being handed over, since closing waits for it.
    template <typename Hand> void pass(Hand&& hand) const {
        const std::lock_guard lock(mutex);
        if (open) {
            std::forward<Hand>(hand)();
        }
    }

    void close() {
        const std::lock_guard lock(mutex);
        open = false;
    }

private:
    mutable std::mutex mutex;
    bool open = true;
};

DetectionScheduler::DetectionScheduler(const AppEnvironment& environment, FileLogger& logger,
                                       QObject* parent)
    : QObject(parent), logger_(logger), clock_(environment.clock),
      link_(std::make_shared<Link>(environment)),
      queue_(std::make_unique<SerialQueue>("Nodwarden.Detection")) {}

DetectionScheduler::~DetectionScheduler() {
    stop();
}

Date DetectionScheduler::now() const {
    return clock_();
}

void DetectionScheduler::queuePass(const GuardSettings& settings) {
    inFlight_ = true;
    startedAt_ = now();
    struct Outcome {
        std::optional<DetectionInputs> inputs;
        std::optional<bool> trusted;
        std::optional<std::string> failure;
    };
    const std::shared_ptr<const Link> link = link_;
    runThenDeliver(
        *queue_, *this,
        [link, settings] {
            Outcome outcome;
            DetectionInputs gathered;
            gathered.power = link->power->snapshot();
            gathered.lid = link->lid->lid();
            gathered.perApp = link->detect(settings, gathered.power, link->clock());
            outcome.inputs = std::move(gathered);
            if (link->isOpen()) {
                outcome.trusted = link->accessibility->isTrusted();
            }
            return outcome;
        },
        [](const std::exception& error) {
            return Outcome{.inputs = std::nullopt,
                           .trusted = std::nullopt,
                           .failure = std::string("Detection pass failed: ") + error.what()};
        },
        [](DetectionScheduler& scheduler, const Outcome& outcome) {
            scheduler.finish(outcome.inputs, outcome.trusted, outcome.failure);
        },
        link);
}

void DetectionScheduler::finish(const std::optional<DetectionInputs>& inputs,
                                std::optional<bool> trusted,
                                const std::optional<std::string>& failure) {
    if (failure) {
        logger_.log(*failure);
    }
    if (overrunLogged_ && startedAt_) {
        logger_.log("Detection pass ended after " +
                    std::to_string(static_cast<long long>(now() - *startedAt_)) + " s");
    }
    inFlight_ = false;
    startedAt_.reset();
    overrunLogged_ = false;
    emit passEnded(inputs, trusted);
}

bool DetectionScheduler::checkOverrun() {
    if (!inFlight_ || !startedAt_ || overrunLogged_) {
        return false;
    }
    const Date current = now();
    // A start in the future means the clock stepped back: count from now, as the sleep-command
    // watchdog does.
    if (*startedAt_ > current) {
        startedAt_ = current;
    }
    if (current - *startedAt_ < overrunSeconds) {
        return false;
    }
    // The pass is not cancelled (it shares the detectors, so no second one may start beside it),
    // but nothing waits for it.
    overrunLogged_ = true;
    logger_.log("Detection pass still running after " +
                std::to_string(static_cast<long long>(current - *startedAt_)) +
                " s; deciding without agent signals until it ends");
    return true;
}

void DetectionScheduler::drain() {
    if (queue_) {
        queue_->drain();
    }
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void DetectionScheduler::stop() {
    if (!queue_) {
        return;
    }
    link_->close();
    if (!queue_->stopWithin(std::chrono::milliseconds(quitWaitMilliseconds))) {
        logger_.log("Detection pass still running at quit; left behind");
    }
    queue_.reset();
}

} // namespace nodwarden::app
