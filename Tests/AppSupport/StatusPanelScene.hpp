#pragma once

// A real status panel over a real AppModel whose services are fakes, and the scenes the panel
// tests and screenshots share.

#include "AppSupport/AppModelHarness.hpp"

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/ui/panel/StatusPanel.hpp>
#include <NodwardenCore/AgentResolver.hpp>
#include <NodwardenCore/Notices.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stayloom::testing {

class StatusPanelScene {
public:
    StatusPanelScene() { harness.acceptTermsAndOnboarding(); }

    /// Stores an account as an earlier run would have left it; call before `build`.
    void storeMetrics(const std::string& json) {
        const auto metrics = nodwarden::UsageMetrics::fromJSON(json);
        ASSERT_TRUE(metrics.has_value()) << json;
        nodwarden::app::MetricsStore::save(*harness.defaults, *metrics, *harness.logger);
    }

    /// The model (its timer never fires on its own during a test) and the panel over it.
    void build() {
        auto environment = harness.environment();
        environment.tickInterval = 3600;
        environment.firstTickDelay = 3600;
        model = std::make_unique<nodwarden::app::AppModel>(std::move(environment));
        panel = std::make_unique<nodwarden::app::StatusPanel>(*model, harness.clock.function());
    }

    /// One evaluation of `perApp` on `power`, with its sleep command carried out.
    void evaluate(std::vector<nodwarden::ActivitySignal> perApp,
                  nodwarden::PowerSnapshot power = FakePowerSources::mains(),
                  nodwarden::LidState lid = nodwarden::LidState::open) {
        // A detection pass that a mode change queues reads the same machine.
        harness.power.setPower(power);
        harness.power.setLid(lid);
        harness.setPerApp(perApp);
        model->evaluateAndApply(power, lid, perApp, true);
        AppModelHarness::settle(*model);
    }

    /// Starts the model: the launch repair runs (and may raise the stale-block warning).
    void start() {
        model->start();
        AppModelHarness::settle(*model);
    }

    template <typename Widget = QWidget> Widget* find(const char* objectName) const {
        return panel->findChild<Widget*>(QString::fromLatin1(objectName));
    }

    std::string text(const char* labelName) const {
        const auto* label = find<QLabel>(labelName);
        return label != nullptr ? label->text().toStdString()
                                : "<missing " + std::string(labelName) + ">";
    }

    /// Whether the named child would be seen when the panel is shown.
    bool shown(const char* objectName) const {
        const QWidget* widget = find(objectName);
        return widget != nullptr && widget->isVisibleTo(panel.get());
    }

    void click(const char* objectName) {
        QWidget* widget = find(objectName);
        ASSERT_NE(widget, nullptr) << objectName;
        clickWidget(*widget);
        AppModelHarness::settle(*model);
    }

    /// A left click in the middle of `widget`, delivered as the window system would.
    static void clickWidget(QWidget& widget) {
        const QPointF local = QRectF(widget.rect()).center();
        const QPointF global = widget.mapToGlobal(local);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&widget, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&widget, &release);
    }

    static nodwarden::ActivitySignal agent(nodwarden::SignalStrength strength, std::string name,
                                           std::string reason,
                                           std::optional<std::string> matched = std::nullopt,
                                           std::optional<int> sessions = std::nullopt) {
        nodwarden::ActivitySignal signal = AppModelHarness::signal(strength, std::move(name));
        signal.reason = std::move(reason);
        signal.matchedText = std::move(matched);
        signal.sessionCount = sessions;
        return signal;
    }

    /// The first catalog agent that can only be seen through on-screen text.
    static std::optional<nodwarden::AgentProfile> textOnlyAgent() {
        for (const auto& profile :
             nodwarden::AgentResolver::make(nodwarden::GuardSettings::defaults()).profiles) {
            if (nodwarden::AccessibilityNotice::isUITextOnly(profile)) {
                return profile;
            }
        }
        return std::nullopt;
    }

    AppModelHarness harness;
    std::unique_ptr<nodwarden::app::AppModel> model;
    std::unique_ptr<nodwarden::app::StatusPanel> panel;
};

} // namespace stayloom::testing
