#pragma once

#include <NodwardenApp/model/SettingsTab.hpp>
#include <NodwardenApp/ui/settings/SettingsDesktopHooks.hpp>

#include <QWidget>

class QTabWidget;

namespace nodwarden::app {

class AppModel;
class SettingsStatsTab;

/// "Stayloom Settings": six tabs over the model's settings, statistics and maintenance actions.
/// The shown tab follows the model's `selectedSettingsTab` both ways.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int defaultWidth = 760;
    static constexpr int defaultHeight = 680;
    static constexpr int minimumWidth = 720;
    static constexpr int minimumHeight = 620;

    explicit SettingsWindow(AppModel& model, QWidget* parent = nullptr);
    SettingsWindow(AppModel& model, SettingsDesktopHooks hooks, QWidget* parent = nullptr);

    /// Shows `tab` and makes it the model's selected tab.
    void selectTab(SettingsTab tab);
    /// The tab shown now.
    SettingsTab currentTab() const;
    SettingsStatsTab& statsTab() const { return *statsTab_; }

signals:
    /// The user closed the window.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void followModel();

    AppModel& model_;
    SettingsDesktopHooks hooks_;
    QTabWidget* tabs_;
    SettingsStatsTab* statsTab_ = nullptr;
};

} // namespace nodwarden::app
