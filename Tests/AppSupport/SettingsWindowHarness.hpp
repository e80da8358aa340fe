#pragma once

// A real settings window over a real model built with the service fakes, with the desktop hooks
// replaced by recorders. Shared by the settings window's test programs.

#include "AppSupport/FirstRunTestSupport.hpp"

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/platform/AgentHookConnector.hpp>
#include <NodwardenApp/ui/settings/SettingsStatsTab.hpp>
#include <NodwardenApp/ui/settings/SettingsWindow.hpp>
#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <QApplication>
#include <QLabel>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace stayloom::testing {

class SettingsWindowHarness {
public:
    explicit SettingsWindowHarness(std::optional<std::string> metricsJSON = std::nullopt);

    /// Shows and activates the window, so layouts, visibility and keyboard focus are real.
    void show() { showActive(*window); }

    /// Gives `widget` the keyboard focus and presses `key` there `times` times, as a user would.
    void press(QWidget* widget, Qt::Key key, int times = 1);

    /// Types `text` into the focused control, one key press per character.
    void type(const QString& text) { typeText(*window, text); }

    /// The window's child named `name`; fails the test when there is none.
    template <typename Widget> Widget* find(const QString& name) const {
        auto* found = window->findChild<Widget*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }

    QString text(const QString& labelName) const {
        auto* label = find<QLabel>(labelName);
        return label ? label->text() : QString();
    }

    /// A metrics document as the store keeps it: install date, one bucket per day, longest run.
    static std::string
    metricsJSON(nodwarden::Date installDate,
                const std::vector<std::pair<std::string, nodwarden::DayBucket>>& days,
                double longestSeconds = 0, std::optional<std::string> longestAgent = std::nullopt,
                std::optional<std::string> longestDate = std::nullopt);

    AppModelHarness harness;
    /// "Connect agents…" edits the agents' settings in the harness's home.
    nodwarden::app::AgentHookConnector agentHooks{nodwarden::app::HookSetupPlace{
        harness.home.path(), harness.home.path() / ".config", "", "/usr/bin/stayloom"}};
    std::unique_ptr<nodwarden::app::AppModel> model;
    std::unique_ptr<nodwarden::app::SettingsWindow> window;
    std::vector<QUrl> openedUrls;
    int loginItemsOpened = 0;
};

} // namespace stayloom::testing
