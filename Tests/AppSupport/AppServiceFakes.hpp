#pragma once

#include <NodwardenApp/model/LoginItemService.hpp>
#include <NodwardenApp/model/Notifying.hpp>
#include <NodwardenApp/model/SleepControlling.hpp>
#include <NodwardenApp/model/WindowPresenter.hpp>
#include <NodwardenCore/detection/LidStateProviding.hpp>
#include <NodwardenCore/detection/PowerSnapshotProviding.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Stand-ins for the services the program's model is given, for model, view and end-to-end tests.
// Each records what it was asked and is safe to call from the model's background queues.
namespace stayloom::testing {

/// A clock that only moves when a test moves it. Readable from any thread.
class ManualClock {
public:
    explicit ManualClock(nodwarden::Date start = 780000000) : now_(start) {}

    nodwarden::Date now() const { return now_.load(); }
    void set(nodwarden::Date date) { now_.store(date); }
    void advance(double seconds) { now_.store(now_.load() + seconds); }
    /// A function reading this clock, for `AppEnvironment::clock`.
    std::function<nodwarden::Date()> function() {
        return [this] { return now(); };
    }

private:
    std::atomic<nodwarden::Date> now_;
};

/// Power and lid readings that a test sets.
class FakePowerSources final : public nodwarden::PowerSnapshotProviding,
                               public nodwarden::LidStateProviding {
public:
    FakePowerSources();

    void setPower(nodwarden::PowerSnapshot snapshot);
    void setLid(nodwarden::LidState state);
    /// Mains power, no battery.
    static nodwarden::PowerSnapshot mains();
    /// On battery at `percent`.
    static nodwarden::PowerSnapshot battery(int percent);

    nodwarden::PowerSnapshot snapshot() override;
    nodwarden::LidState lid() override;

private:
    mutable std::mutex mutex_;
    nodwarden::PowerSnapshot power_;
    nodwarden::LidState lid_ = nodwarden::LidState::open;
};

/// A sleep controller that keeps its state in memory the way the real one reports it, records
/// every state-changing call, and can hold commands back to model a pending administrator prompt.
class FakeSleepController final : public nodwarden::app::SleepControlling {
public:
    // Scripted outcomes.
    /// What engaging lid-closed protection returns (false: the prompt was declined).
    void setEngageSucceeds(bool succeeds);
    /// Whether restoring the switch is confirmed.
    void setRestoreSucceeds(bool succeeds);
    void setReconcileStuckResult(bool cleared);
    void setSystemSleepDisabled(bool disabled);
    /// Sets the held state directly, as if an earlier command had produced it.
    void setState(bool preventing, bool lidClosedEngaged,
                  std::optional<bool> appliedLetDisplaySleep);

    /// From now on, state-changing calls wait until `releaseCommands`.
    void holdCommands();
    void releaseCommands();
    /// Blocks until a held command has started waiting (or a generous bound passes).
    bool waitUntilCommandWaiting();

    /// Every state-changing call, e.g. "setSleepPrevention(true,false,true)", "sleepNow".
    std::vector<std::string> calls() const;
    void clearCalls();
    /// The reason the model last gave for a hold.
    std::string keepAwakeReason() const;

    bool isSleepPreventionEnabled() const override;
    bool isLidClosedProtectionEngaged() const override;
    std::optional<bool> appliedLetDisplaySleep() const override;
    std::optional<std::string> appliedKeepAwakeReason() const override;
    /// Not among the calls: the model gives it before every request to hold.
    void setKeepAwakeReason(const std::string& why) override;
    bool setSleepPrevention(bool enabled, bool allowLidClosed, bool letDisplaySleep) override;
    bool restoreNormalSleep() override;
    void reconcileOrphanedKeepAwakeChildren() override;
    bool reconcileStuckSleepSwitch() override;
    bool isSystemSleepDisabled() override;
    void adoptSleepSwitchEngaged() override;
    void emergencyRestore() override;
    void sleepNow() override;

private:
    void record(std::string call);
    void waitIfHeld();
    bool restoreLocked();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool waiting_ = false;
    bool preventing_ = false;
    bool engaged_ = false;
    std::optional<bool> applied_;
    std::string reason_;
    std::optional<std::string> appliedReason_;
    bool engageSucceeds_ = true;
    bool restoreSucceeds_ = true;
    bool reconcileStuckResult_ = true;
    bool systemSleepDisabled_ = false;
    std::vector<std::string> calls_;
};

/// A notification service that keeps every notice it is shown.
class FakeNotifier final : public nodwarden::app::Notifying {
public:
    void show(const nodwarden::app::Notice& notice) override { shown.push_back(notice); }
    void setActionHandler(ActionHandler handler) override { actionHandler = std::move(handler); }
    /// The user pressed the button of `key` on the latest notice.
    void press(const std::string& key) const {
        if (actionHandler) {
            actionHandler(key);
        }
    }

    void withdraw(const std::string& slot) override { withdrawn.push_back(slot); }

    std::vector<nodwarden::app::Notice> shown;
    /// The slots withdrawn, in order.
    std::vector<std::string> withdrawn;
    ActionHandler actionHandler;
};

/// A login-item service with a scripted status and registration outcome.
class FakeLoginItemService final : public nodwarden::app::LoginItemService {
public:
    void setStatus(nodwarden::app::LoginItemStatus status) {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    /// The status reported after a successful registration.
    void setStatusAfterRegister(nodwarden::app::LoginItemStatus status) {
        std::lock_guard lock(mutex_);
        statusAfterRegister_ = status;
    }
    /// Makes the next registrations fail with `description`; none: they succeed.
    void setRegisterError(std::optional<std::string> description) {
        std::lock_guard lock(mutex_);
        registerError_ = std::move(description);
    }
    void setUnregisterError(std::optional<std::string> description) {
        std::lock_guard lock(mutex_);
        unregisterError_ = std::move(description);
    }

    int registerCount() const {
        std::lock_guard lock(mutex_);
        return registerCount_;
    }
    int unregisterCount() const {
        std::lock_guard lock(mutex_);
        return unregisterCount_;
    }

    nodwarden::app::LoginItemStatus status() override {
        std::lock_guard lock(mutex_);
        return status_;
    }
    void registerItem() override;
    void unregisterItem() override;

private:
    mutable std::mutex mutex_;
    nodwarden::app::LoginItemStatus status_ = nodwarden::app::LoginItemStatus::notRegistered;
    nodwarden::app::LoginItemStatus statusAfterRegister_ = nodwarden::app::LoginItemStatus::enabled;
    std::optional<std::string> registerError_;
    std::optional<std::string> unregisterError_;
    int registerCount_ = 0;
    int unregisterCount_ = 0;
};

/// A window presenter that shows nothing and records what it was asked, e.g.
/// "presentLegalWindow", "presentSettingsWindow(stats)", "openSystemSettingsPane(accessibility)".
/// The settings window counts as open from its presentation until `closeSettingsWindow`.
class RecordingWindowPresenter final : public nodwarden::app::WindowPresenter {
public:
    std::vector<std::string> calls() const;
    void clearCalls();
    /// Forgets the settings window, as its closing would.
    void closeSettingsWindow();

    void presentLegalWindow() override { record("presentLegalWindow"); }
    void closeLegalWindow() override { record("closeLegalWindow"); }
    void presentOnboardingWindow() override { record("presentOnboardingWindow"); }
    void presentSettingsWindow(nodwarden::app::SettingsTab tab) override;
    bool isSettingsWindowOpen() const override;
    void openSystemSettingsPane(nodwarden::app::SystemSettingsPane pane) override;

private:
    void record(std::string call);

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    bool settingsOpen_ = false;
};

} // namespace stayloom::testing
