#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/SettingsStore.hpp>

namespace nodwarden::app {

void AppModel::keepAwakeFor(double seconds) {
    if (!(seconds > 0)) {
        return;
    }
    const AppMode after = modeAfterTimedKeepAwake_.value_or(mode_);
    // Set before the change, whose tick must see the new end.
    modeAfterTimedKeepAwake_ = after;
    timedKeepAwakeUntil_ = now() + seconds;
    timedKeepAwakeSeconds_ = seconds;
    changeMode(AppMode::manualKeepAwake);
    // Saved after the change, which saves manual mode: a quit before the end must not leave
    // the computer kept awake for good at the next start.
    SettingsStore::saveMode(defaults(), after);
    emit timedKeepAwakeChanged();
}

void AppModel::clearTimedKeepAwake() {
    if (!timedKeepAwakeUntil_) {
        return;
    }
    timedKeepAwakeUntil_.reset();
    modeAfterTimedKeepAwake_.reset();
    timedKeepAwakeSeconds_.reset();
    emit timedKeepAwakeChanged();
}

bool AppModel::endTimedKeepAwakeIfDue() {
    if (!timedKeepAwakeUntil_ || now() < *timedKeepAwakeUntil_) {
        return false;
    }
    const AppMode after = *modeAfterTimedKeepAwake_;
    clearTimedKeepAwake();
    changeMode(after);
    return true;
}

} // namespace nodwarden::app
