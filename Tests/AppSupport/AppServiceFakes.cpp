#include "AppSupport/AppServiceFakes.hpp"

#include <chrono>

namespace stayloom::testing {

using nodwarden::LidState;
using nodwarden::PowerSnapshot;
using namespace nodwarden::app;

namespace {

std::string boolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

// MARK: - FakePowerSources

FakePowerSources::FakePowerSources() : power_(mains()) {}

PowerSnapshot FakePowerSources::mains() {
    return PowerSnapshot{true, std::nullopt, "AC Power"};
}

PowerSnapshot FakePowerSources::battery(int percent) {
    return PowerSnapshot{false, percent, "Battery Power"};
}

void FakePowerSources::setPower(PowerSnapshot snapshot) {
    std::lock_guard lock(mutex_);
    power_ = std::move(snapshot);
}

void FakePowerSources::setLid(LidState state) {
    std::lock_guard lock(mutex_);
    lid_ = state;
}

PowerSnapshot FakePowerSources::snapshot() {
    std::lock_guard lock(mutex_);
    return power_;
}

LidState FakePowerSources::lid() {
    std::lock_guard lock(mutex_);
    return lid_;
}

// MARK: - FakeSleepController

void FakeSleepController::setEngageSucceeds(bool succeeds) {
    std::lock_guard lock(mutex_);
    engageSucceeds_ = succeeds;
}

void FakeSleepController::setRestoreSucceeds(bool succeeds) {
    std::lock_guard lock(mutex_);
    restoreSucceeds_ = succeeds;
}

void FakeSleepController::setReconcileStuckResult(bool cleared) {
    std::lock_guard lock(mutex_);
    reconcileStuckResult_ = cleared;
}

void FakeSleepController::setSystemSleepDisabled(bool disabled) {
    std::lock_guard lock(mutex_);
    systemSleepDisabled_ = disabled;
}

void FakeSleepController::setState(bool preventing, bool lidClosedEngaged,
                                   std::optional<bool> appliedLetDisplaySleep) {
    std::lock_guard lock(mutex_);
    preventing_ = preventing;
    engaged_ = lidClosedEngaged;
    applied_ = appliedLetDisplaySleep;
}

void FakeSleepController::holdCommands() {
    std::lock_guard lock(mutex_);
    held_ = true;
}

void FakeSleepController::releaseCommands() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    changed_.notify_all();
}

bool FakeSleepController::waitUntilCommandWaiting() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return waiting_; });
}

void FakeSleepController::waitIfHeld() {
    std::unique_lock lock(mutex_);
    if (!held_) {
        return;
    }
    waiting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !held_; });
    waiting_ = false;
}

std::vector<std::string> FakeSleepController::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FakeSleepController::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeSleepController::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

bool FakeSleepController::isSleepPreventionEnabled() const {
    std::lock_guard lock(mutex_);
    return preventing_;
}

bool FakeSleepController::isLidClosedProtectionEngaged() const {
    std::lock_guard lock(mutex_);
    return engaged_;
}

std::optional<bool> FakeSleepController::appliedLetDisplaySleep() const {
    std::lock_guard lock(mutex_);
    return applied_;
}

std::string FakeSleepController::keepAwakeReason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

std::optional<std::string> FakeSleepController::appliedKeepAwakeReason() const {
    std::lock_guard lock(mutex_);
    return appliedReason_;
}

void FakeSleepController::setKeepAwakeReason(const std::string& why) {
    std::lock_guard lock(mutex_);
    reason_ = why;
}

bool FakeSleepController::restoreLocked() {
    if (restoreSucceeds_) {
        systemSleepDisabled_ = false;
    }
    engaged_ = !restoreSucceeds_;
    return restoreSucceeds_;
}

bool FakeSleepController::setSleepPrevention(bool enabled, bool allowLidClosed,
                                             bool letDisplaySleep) {
    record("setSleepPrevention(" + boolText(enabled) + "," + boolText(allowLidClosed) + "," +
           boolText(letDisplaySleep) + ")");
    waitIfHeld();
    std::lock_guard lock(mutex_);
    if (enabled) {
        preventing_ = true;
        applied_ = letDisplaySleep;
        appliedReason_ = reason_;
        if (!allowLidClosed || engaged_) {
            return true;
        }
        if (engageSucceeds_) {
            engaged_ = true;
            systemSleepDisabled_ = true;
        }
        return engageSucceeds_;
    }
    preventing_ = false;
    applied_.reset();
    appliedReason_.reset();
    return engaged_ ? restoreLocked() : true;
}

bool FakeSleepController::restoreNormalSleep() {
    record("restoreNormalSleep");
    waitIfHeld();
    std::lock_guard lock(mutex_);
    preventing_ = false;
    applied_.reset();
    appliedReason_.reset();
    return engaged_ ? restoreLocked() : true;
}

void FakeSleepController::reconcileOrphanedKeepAwakeChildren() {
    record("reconcileOrphanedKeepAwakeChildren");
}

bool FakeSleepController::reconcileStuckSleepSwitch() {
    record("reconcileStuckSleepSwitch");
    std::lock_guard lock(mutex_);
    return reconcileStuckResult_;
}

bool FakeSleepController::isSystemSleepDisabled() {
    std::lock_guard lock(mutex_);
    return systemSleepDisabled_;
}

void FakeSleepController::adoptSleepSwitchEngaged() {
    record("adoptSleepSwitchEngaged");
    std::lock_guard lock(mutex_);
    engaged_ = true;
}

void FakeSleepController::emergencyRestore() {
    record("emergencyRestore");
    waitIfHeld();
    std::lock_guard lock(mutex_);
    preventing_ = false;
    applied_.reset();
    appliedReason_.reset();
    restoreLocked();
}

void FakeSleepController::sleepNow() {
    record("sleepNow");
}

// MARK: - FakeLoginItemService

void FakeLoginItemService::registerItem() {
    std::lock_guard lock(mutex_);
    ++registerCount_;
    if (registerError_) {
        throw LoginItemError(*registerError_);
    }
    status_ = statusAfterRegister_;
}

void FakeLoginItemService::unregisterItem() {
    std::lock_guard lock(mutex_);
    ++unregisterCount_;
    if (unregisterError_) {
        throw LoginItemError(*unregisterError_);
    }
    status_ = LoginItemStatus::notRegistered;
}

// MARK: - RecordingWindowPresenter

std::vector<std::string> RecordingWindowPresenter::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void RecordingWindowPresenter::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void RecordingWindowPresenter::closeSettingsWindow() {
    std::lock_guard lock(mutex_);
    settingsOpen_ = false;
}

void RecordingWindowPresenter::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

void RecordingWindowPresenter::presentSettingsWindow(SettingsTab tab) {
    static constexpr const char* names[] = {"general",   "power", "agents",
                                            "detection", "stats", "advanced"};
    std::lock_guard lock(mutex_);
    settingsOpen_ = true;
    calls_.push_back(std::string("presentSettingsWindow(") + names[int(tab)] + ")");
}

bool RecordingWindowPresenter::isSettingsWindowOpen() const {
    std::lock_guard lock(mutex_);
    return settingsOpen_;
}

void RecordingWindowPresenter::openSystemSettingsPane(SystemSettingsPane pane) {
    record(std::string("openSystemSettingsPane(") +
           (pane == SystemSettingsPane::loginItems ? "loginItems" : "accessibility") + ")");
}

} // namespace stayloom::testing
