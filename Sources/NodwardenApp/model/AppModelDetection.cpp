#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenCore/AccessibilityDetector.hpp>
#include <NodwardenCore/FileLogger.hpp>
#include <NodwardenCore/PowerMonitor.hpp>
#include <NodwardenCore/SerialQueue.hpp>

#include <QPointer>

#include <exception>
#include <string>
#include <utility>

namespace nodwarden::app {

using detail::assignIfChanged;
using detail::deliver;

void AppModel::queueDetectionPass() {
    QPointer<AppModel> guard(this);
    PowerSnapshotProviding* power = environment_.power;
    LidStateProviding* lid = environment_.lid;
    AccessibilityDetector* accessibility = environment_.accessibility;
    auto detect = environment_.detectPerApp;
    auto clock = environment_.clock;
    FileLogger* sharedLogger = environment_.logger;
    detectionQueue_->async(
        [guard, settings = settings_, power, lid, accessibility, detect, clock, sharedLogger] {
            if (guard.isNull()) {
                return;
            }
            std::optional<Inputs> inputs;
            std::optional<bool> trusted;
            try {
                Inputs gathered;
                gathered.power = power->snapshot();
                gathered.lid = lid->lid();
                gathered.perApp = detect(settings, gathered.power, clock());
                inputs = std::move(gathered);
                trusted = accessibility->isTrusted();
            } catch (const std::exception& error) {
                sharedLogger->log(std::string("Detection pass failed: ") + error.what());
            }
            deliver(guard, [inputs = std::move(inputs), trusted](AppModel& model) mutable {
                model.detectionInFlight_ = false;
                if (trusted) {
                    assignIfChanged(model.accessibilityTrusted_, *trusted,
                                    [&model] { emit model.accessibilityTrustedChanged(); });
                }
                if (inputs) {
                    model.deliverDetection(*std::move(inputs));
                }
            });
        });
}

void AppModel::deliverDetection(Inputs inputs) {
    lastInputs_ = inputs;
    evaluateAndApply(inputs.power, inputs.lid, inputs.perApp, true);
}

} // namespace nodwarden::app
