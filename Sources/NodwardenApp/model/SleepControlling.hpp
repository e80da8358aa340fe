#pragma once

#include <optional>
#include <string>

namespace nodwarden::app {

/// What the model needs of the sleep controller: the getters read from the main thread, every
/// other call made on the sleep-command queue (or once on the main thread at quit). Implementations
/// must allow the getters while a command runs.
class SleepControlling {
public:
    virtual ~SleepControlling() = default;

    virtual bool isSleepPreventionEnabled() const = 0;
    virtual bool isLidClosedProtectionEngaged() const = 0;
    /// The display posture of the running keep-awake child; none when there is no running child.
    virtual std::optional<bool> appliedLetDisplaySleep() const = 0;
    /// The reason the running keep-awake child gives; none when there is no running child.
    virtual std::optional<std::string> appliedKeepAwakeReason() const = 0;
    /// The reason the next hold gives; a running child with another one is replaced, without a
    /// gap, at the next `setSleepPrevention(true, …)`.
    virtual void setKeepAwakeReason(const std::string& why) = 0;

    /// False only when engaging or restoring the system sleep switch failed.
    virtual bool setSleepPrevention(bool enabled, bool allowLidClosed, bool letDisplaySleep) = 0;
    /// False when the system sleep switch could not be confirmed back on.
    virtual bool restoreNormalSleep() = 0;
    virtual void reconcileOrphanedKeepAwakeChildren() = 0;
    /// False when a switch left off by an earlier run could not be confirmed back on.
    virtual bool reconcileStuckSleepSwitch() = 0;
    /// Whether the system reports sleep switched off right now (an unreadable state is false).
    virtual bool isSystemSleepDisabled() = 0;
    virtual void adoptSleepSwitchEngaged() = 0;
    /// Stops everything and restores the switch, prompting even when nothing was engaged.
    virtual void emergencyRestore() = 0;
    virtual void sleepNow() = 0;
};

/// Presents the core's sleep controller (or any type with the same operations) to the model.
template <typename Controller> class SleepControllerAdapter final : public SleepControlling {
public:
    /// `controller` must outlive the adapter.
    explicit SleepControllerAdapter(Controller& controller) : controller_(controller) {}

    bool isSleepPreventionEnabled() const override {
        return controller_.isSleepPreventionEnabled();
    }
    bool isLidClosedProtectionEngaged() const override {
        return controller_.isLidClosedProtectionEngaged();
    }
    std::optional<bool> appliedLetDisplaySleep() const override {
        return controller_.appliedLetDisplaySleep();
    }
    std::optional<std::string> appliedKeepAwakeReason() const override {
        return controller_.appliedKeepAwakeReason();
    }
    void setKeepAwakeReason(const std::string& why) override {
        controller_.setKeepAwakeReason(why);
    }
    bool setSleepPrevention(bool enabled, bool allowLidClosed, bool letDisplaySleep) override {
        return controller_.setSleepPrevention(enabled, allowLidClosed, letDisplaySleep);
    }
    bool restoreNormalSleep() override { return controller_.restoreNormalSleep(); }
    void reconcileOrphanedKeepAwakeChildren() override {
        controller_.reconcileOrphanedKeepAwakeChildren();
    }
    bool reconcileStuckSleepSwitch() override { return controller_.reconcileStuckSleepSwitch(); }
    bool isSystemSleepDisabled() override { return controller_.isSystemSleepDisabled(); }
    void adoptSleepSwitchEngaged() override { controller_.adoptSleepSwitchEngaged(); }
    void emergencyRestore() override { controller_.emergencyRestore(); }
    void sleepNow() override { controller_.sleepNow(); }

private:
    Controller& controller_;
};

} // namespace nodwarden::app
