#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/QueuedDelivery.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/LidStateProviding.hpp>
#include <NodwardenCore/detection/PowerSnapshotProviding.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <chrono>
#include <exception>
#include <mutex>
#include <string>
#include <utility>

namespace nodwarden::app {

using detail::assignIfChanged;
using detail::runThenDeliver;

/// What every detection pass shares with the model. A pass that does not end is left behind at
/// quit and may go on after the model is gone: it reaches the services only through this link,
/// which keeps them alive, and the model only through the gate, which the model closes first.
struct AppModel::DetectionLink {
    explicit DetectionLink(const AppEnvironment& environment)
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

    /// Runs `hand` (which hands a result to the model) unless the gate is closed; the model
    /// cannot be destroyed while a result is being handed over, since closing waits for it.
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

void AppModel::makeDetectionLink() {
    detectionLink_ = std::make_shared<DetectionLink>(environment_);
}

void AppModel::queueDetectionPass() {
    detectionInFlight_ = true;
    detectionStartedAt_ = now();
    struct Outcome {
        std::optional<Inputs> inputs;
        std::optional<bool> trusted;
        std::optional<std::string> failure;
    };
    const std::shared_ptr<const DetectionLink> link = detectionLink_;
    runThenDeliver(
        *detectionQueue_, *this,
        [link, settings = settings_] {
            Outcome outcome;
            Inputs gathered;
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
        [](AppModel& model, Outcome outcome) {
            model.finishDetectionPass(std::move(outcome.inputs), outcome.trusted, outcome.failure);
        },
        link);
}

void AppModel::finishDetectionPass(std::optional<Inputs> inputs, std::optional<bool> trusted,
                                   const std::optional<std::string>& failure) {
    if (failure) {
        log(*failure);
    }
    if (detectionOverrunLogged_ && detectionStartedAt_) {
        log("Detection pass ended after " +
            std::to_string(static_cast<long long>(now() - *detectionStartedAt_)) + " s");
    }
    detectionInFlight_ = false;
    detectionStartedAt_.reset();
    detectionOverrunLogged_ = false;
    if (trusted) {
        assignIfChanged(accessibilityTrusted_, *trusted,
                        [this] { emit accessibilityTrustedChanged(); });
    }
    if (inputs) {
        deliverDetection(*std::move(inputs));
    }
}

void AppModel::watchDetectionPass() {
    if (!detectionInFlight_ || !detectionStartedAt_ || detectionOverrunLogged_) {
        return;
    }
    const Date current = now();
    // A start in the future means the clock stepped back: count from now, as the sleep-command
    // watchdog does.
    if (*detectionStartedAt_ > current) {
        detectionStartedAt_ = current;
    }
    if (current - *detectionStartedAt_ < detectionOverrunSeconds) {
        return;
    }
    // The pass is not cancelled (it shares the detectors, so no second one may start beside it),
    // but nothing waits for it: what the last pass saw of the agents is no longer current, so
    // decisions go on without it until a pass ends again.
    detectionOverrunLogged_ = true;
    log("Detection pass still running after " +
        std::to_string(static_cast<long long>(current - *detectionStartedAt_)) +
        " s; deciding without agent signals until it ends");
    if (lastInputs_) {
        lastInputs_->perApp.clear();
    }
}

void AppModel::deliverDetection(const Inputs& inputs) {
    lastInputs_ = inputs;
    evaluateAndApply(inputs.power, inputs.lid, inputs.perApp, true);
}

void AppModel::stopDetection() {
    detectionLink_->close();
    if (!detectionQueue_->stopWithin(std::chrono::milliseconds(detectionQuitWaitMilliseconds))) {
        log("Detection pass still running at quit; left behind");
    }
    detectionQueue_.reset();
}

} // namespace nodwarden::app
