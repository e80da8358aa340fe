#pragma once

#include <NodwardenCore/model/GuardPowerProfile.hpp>

#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;

namespace nodwarden::app {

class AppModel;
class DurationSliderRow;
class PercentageSliderRow;

/// The thresholds of one power source. Reports each edit as the whole profile, unclamped.
class PowerProfileEditor : public QWidget {
    Q_OBJECT
public:
    /// `prefix` starts every child's object name ("battery" → "batteryCpuThresholdSlider").
    PowerProfileEditor(const QString& title, const QString& subtitle, const QString& prefix,
                       bool showsBatterySafety, bool showsUnlimited, QWidget* parent = nullptr);

    /// Shows `profile` without reporting an edit.
    void setProfile(const GuardPowerProfile& profile);
    std::function<void(const GuardPowerProfile&)> onEdited;

private:
    void edit(const std::function<void(GuardPowerProfile&)>& change);

    std::optional<GuardPowerProfile> profile_;
    PercentageSliderRow* cutoff_ = nullptr;
    PercentageSliderRow* warning_ = nullptr;
    QCheckBox* unlimited_ = nullptr;
    QCheckBox* sleepAfterCompletion_ = nullptr;
    QCheckBox* onlyIfLidClosed_ = nullptr;
    DurationSliderRow* idleGrace_ = nullptr;
    PercentageSliderRow* cpuThreshold_ = nullptr;
};

/// The battery and plugged-in profiles side by side and the profile in force.
class SettingsPowerTab : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPowerTab(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    PowerProfileEditor* battery_;
    PowerProfileEditor* pluggedIn_;
    QLabel* currentProfile_ = nullptr;
};

} // namespace nodwarden::app
