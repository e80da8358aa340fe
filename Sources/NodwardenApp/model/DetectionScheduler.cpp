#include <NodwardenApp/model/DetectionScheduler.hpp>

#include <NodwardenApp/model/AppEnvironment.hpp>
#include <NodwardenApp/model/QueuedDelivery.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/LidStateProviding.hpp>
#include <NodwardenCore/detection/PowerSnapshotProviding.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <QCoreApplication>
#include <QPointer>

#include <chrono>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <utility>

namespace nodwarden::app {

using detail::deliver;

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

    /// What a pass starting now needs: none once the gate is closed, or when `repeatOf` names a
    /// pass that another has since followed (that chain of repeats ends).
    struct Start {
        GuardSettings settings;
        std::uint64_t number = 0;
        Date began = 0;
    };
    std::optional<Start> begin(std::optional<std::uint64_t> repeatOf) {
        const std::lock_guard lock(mutex);
        if (!open || (repeatOf && *repeatOf != passNumber)) {
            return std::nullopt;
        }
        runningSince = clock();
        return Start{.settings = settings, .number = ++passNumber, .began = *runningSince};
    }
    /// Ends the pass running; how long after its start the next one is due, if one is.
    std::optional<std::chrono::steady_clock::duration> end() {
        const std::lock_guard lock(mutex);
        runningSince.reset();
        if (!open || interval <= std::chrono::steady_clock::duration::zero()) {
            return std::nullopt;
        }
        return interval;
    }

    bool isOpen() const {
        const std::lock_guard lock(mutex);
        return open;
    }
    /// When the pass running now began, and its number; none between passes.
    std::optional<std::pair<Date, std::uint64_t>> running() const {
        const std::lock_guard lock(mutex);
        if (!runningSince) {
            return std::nullopt;
        }
        return std::pair{*runningSince, passNumber};
    }
    void follow(const GuardSettings& latest) {
        const std::lock_guard lock(mutex);
        settings = latest;
    }
    void repeatEvery(std::chrono::steady_clock::duration every) {
        const std::lock_guard lock(mutex);
        interval = every;
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
    GuardSettings settings = GuardSettings::defaults();
    std::chrono::steady_clock::duration interval{};
    /// The latest pass to start; a repeat queued by an earlier one finds it moved on.
    std::uint64_t passNumber = 0;
    std::optional<Date> runningSince;
};

struct DetectionScheduler::Outcome {
    std::optional<DetectionInputs> inputs;
    std::optional<bool> trusted;
    std::optional<std::string> failure;
    /// Queued by `queuePass` rather than by the pass before it.
    bool queued = false;
    Date began = 0;
};

/// One pass on the detection queue, and the next one queued from there when the passes repeat.
/// Reaches the scheduler only through the gate, and the queue only while it exists.
class ScheduledPass {
public:
    using Link = DetectionScheduler::Link;
    using Outcome = DetectionScheduler::Outcome;

    static void run(const std::shared_ptr<Link>& link, const std::weak_ptr<SerialQueue>& queue,
                    const QPointer<DetectionScheduler>& scheduler,
                    std::optional<std::uint64_t> repeatOf) {
        const auto began = std::chrono::steady_clock::now();
        const std::optional<Link::Start> start = link->begin(repeatOf);
        if (!start) {
            return;
        }
        Outcome outcome = gather(*link, start->settings);
        outcome.queued = !repeatOf;
        outcome.began = start->began;
        const std::optional<std::chrono::steady_clock::duration> next = link->end();
        link->pass([&] {
            deliver<DetectionScheduler>(
                scheduler, [outcome = std::move(outcome)](DetectionScheduler& alive) mutable {
                    alive.finish(outcome);
                });
        });
        if (!next) {
            return;
        }
        // Queued from the queue's own thread, the repeat sets the worker's next wake-up without
        // waking it.
        if (const std::shared_ptr<SerialQueue> alive = queue.lock()) {
            alive->asyncAt(began + *next, [link, queue, scheduler, number = start->number] {
                run(link, queue, scheduler, number);
            });
        }
    }

private:
    static Outcome gather(const Link& link, const GuardSettings& settings) {
        Outcome outcome;
        try {
            DetectionInputs gathered;
            gathered.power = link.power->snapshot();
            gathered.lid = link.lid->lid();
            gathered.perApp = link.detect(settings, gathered.power, link.clock());
            outcome.inputs = std::move(gathered);
            if (link.isOpen()) {
                outcome.trusted = link.accessibility->isTrusted();
            }
        } catch (const std::exception& error) {
            outcome.inputs.reset();
            outcome.failure = std::string("Detection pass failed: ") + error.what();
        }
        return outcome;
    }
};

DetectionScheduler::DetectionScheduler(const AppEnvironment& environment, FileLogger& logger,
                                       QObject* parent)
    : QObject(parent), logger_(logger), clock_(environment.clock),
      link_(std::make_shared<Link>(environment)),
      queue_(std::make_shared<SerialQueue>("Nodwarden.Detection")) {}

DetectionScheduler::~DetectionScheduler() {
    stop();
}

Date DetectionScheduler::now() const {
    return clock_();
}

bool DetectionScheduler::inFlight() const {
    return queuedPasses_ > 0 || link_->running();
}

std::optional<DetectionScheduler::InFlight> DetectionScheduler::inFlightNow() const {
    if (const auto running = link_->running()) {
        return InFlight{.since = running->first, .pass = running->second};
    }
    if (queuedPasses_ > 0 && queuedAt_) {
        return InFlight{.since = *queuedAt_, .pass = 0};
    }
    return std::nullopt;
}

void DetectionScheduler::queuePass(const GuardSettings& settings) {
    if (!queue_) {
        return;
    }
    ++queuedPasses_;
    queuedAt_ = now();
    link_->follow(settings);
    queue_->async([link = link_, queue = std::weak_ptr<SerialQueue>(queue_),
                   scheduler = QPointer<DetectionScheduler>(this)] {
        ScheduledPass::run(link, queue, scheduler, std::nullopt);
    });
}

void DetectionScheduler::repeatEvery(double seconds) {
    link_->repeatEvery(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds)));
}

void DetectionScheduler::follow(const GuardSettings& settings) {
    link_->follow(settings);
}

void DetectionScheduler::finish(const Outcome& outcome) {
    if (outcome.failure) {
        logger_.log(*outcome.failure);
    }
    if (overrunLogged_) {
        logger_.log("Detection pass ended after " +
                    std::to_string(static_cast<long long>(now() - outcome.began)) + " s");
    }
    if (outcome.queued && queuedPasses_ > 0) {
        --queuedPasses_;
    }
    if (queuedPasses_ == 0) {
        queuedAt_.reset();
    }
    overrunLogged_ = false;
    counted_.reset();
    emit passEnded(outcome.inputs, outcome.trusted);
}

bool DetectionScheduler::checkOverrun() {
    const std::optional<InFlight> inFlight = inFlightNow();
    if (!inFlight || overrunLogged_) {
        return false;
    }
    const Date current = now();
    if (!counted_ || counted_->pass != inFlight->pass) {
        counted_ = inFlight;
    }
    // A start in the future means the clock stepped back: count from now, as the sleep-command
    // watchdog does.
    if (counted_->since > current) {
        counted_->since = current;
    }
    if (current - counted_->since < overrunSeconds) {
        return false;
    }
    // The pass is not cancelled (it shares the detectors, so no second one may start beside it),
    // but nothing waits for it.
    overrunLogged_ = true;
    logger_.log("Detection pass still running after " +
                std::to_string(static_cast<long long>(current - counted_->since)) +
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
