#pragma once

// A real settings window over a real model built with the service fakes, with the desktop hooks
// replaced by recorders. Shared by the settings window's test programs.

#include "FirstRunTestSupport.hpp"

#include <NodwardenApp/platform/AgentHookConnector.hpp>
#include <NodwardenApp/ui/settings/SettingsStatsTab.hpp>
#include <NodwardenApp/ui/settings/SettingsWindow.hpp>
#include <NodwardenCore/StoredKeys.hpp>
#include <NodwardenCore/UsageMetrics.hpp>

#include <QApplication>
#include <QLabel>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace stayloom::testing {

class SettingsWindowHarness {
public:
    explicit SettingsWindowHarness(std::optional<std::string> metricsJSON = std::nullopt) {
        harness.acceptTermsAndOnboarding();
        if (metricsJSON) {
            harness.defaults->setValue(QString::fromUtf8(nodwarden::StoredKeys::metrics.data()),
                                       QByteArray::fromStdString(*metricsJSON));
        }
        harness.agentHooks = &agentHooks;
        model = harness.makeModel();
        nodwarden::app::SettingsDesktopHooks hooks;
        hooks.openUrl = [this](const QUrl& url) {
            openedUrls.push_back(url);
            return true;
        };
        hooks.openLoginItems = [this] { ++loginItemsOpened; };
        hooks.logPath = harness.home.path() / "logs" / "Nodwarden.log";
        window = std::make_unique<nodwarden::app::SettingsWindow>(*model, std::move(hooks));
        window->statsTab().setClock(harness.clock.function());
    }

    /// Shows and activates the window, so layouts, visibility and keyboard focus are real.
    void show() { showActive(*window); }

    /// Gives `widget` the keyboard focus and presses `key` there `times` times, as a user would.
    void press(QWidget* widget, Qt::Key key, int times = 1) {
        ASSERT_NE(widget, nullptr);
        widget->setFocus();
        for (int count = 0; count < times; ++count) {
            pressKey(*window, key);
        }
    }

    /// Types `text` into the focused control, one key press per character.
    void type(const QString& text) {
        QWindow* handle = window->windowHandle();
        ASSERT_NE(handle, nullptr) << "the window is not shown";
        for (const QChar character : text) {
            const int key = character.toUpper().unicode();
            qt_handleKeyEvent(handle, QEvent::KeyPress, key, Qt::NoModifier, QString(character),
                              false, 1);
            qt_handleKeyEvent(handle, QEvent::KeyRelease, key, Qt::NoModifier, QString(character),
                              false, 1);
        }
        QApplication::processEvents();
    }

    /// A left click at `point` inside `widget`.
    static void clickAt(QWidget* widget, QPoint point) {
        ASSERT_NE(widget, nullptr);
        const QPointF global = widget->mapToGlobal(QPointF(point));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(point), global, Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(point), global, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
        QApplication::processEvents();
    }

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
                std::optional<std::string> longestDate = std::nullopt) {
        nlohmann::json document;
        document["installDate"] = installDate;
        document["days"] = nlohmann::json::object();
        for (const auto& [key, bucket] : days) {
            document["days"][key] = nlohmann::json::parse(bucket.toJSON());
        }
        document["longestProtectedRunSeconds"] = longestSeconds;
        if (longestAgent) {
            document["longestProtectedRunAgent"] = *longestAgent;
        }
        if (longestDate) {
            document["longestProtectedRunDate"] = *longestDate;
        }
        return document.dump();
    }

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
