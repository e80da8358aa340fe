#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/CommandRunRows.hpp>

namespace nodwarden::app {

// What the commands `stayloom run` keeps awake change in the model: whether it is kept awake, the
// headline worked out again at once, and the locks.

void AppModel::commandRunStarted(std::int32_t pid, const std::string& name) {
    commandRuns_->started(pid, name);
}

void AppModel::commandRunEnded(std::int32_t pid) {
    commandRuns_->ended(pid);
}

bool AppModel::isKeptAwake() const {
    return sleep_->sleepPreventionEnabled() || !commandRuns_->empty();
}

void AppModel::republishForCommandRuns() {
    emit keptAwakeChanged();
    // The rows and the headline are worked out again from the last inputs.
    published_->setBasis(std::nullopt);
    if (lastInputs_ && !firstRun_->needsLegalAcceptance()) {
        evaluateAndApply(lastInputs_->power, lastInputs_->lid, lastInputs_->perApp, false);
    }
}

void AppModel::refreshKeepAwakeLocks() {
    KeepAwakeLocks locks;
    if (environment_.keepAwakeLocks && isKeptAwake()) {
        locks = environment_.keepAwakeLocks();
    }
    published_->setKeepAwakeLocks(std::move(locks));
}

} // namespace nodwarden::app
