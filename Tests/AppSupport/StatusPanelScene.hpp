#pragma once

// A real status panel over a real AppModel whose services are fakes, and the scenes the panel
// tests and screenshots share.

#include "AppSupport/FirstRunTestSupport.hpp"

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/ui/panel/StatusPanel.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/Notices.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>

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
    void storeMetrics(const std::string& json);

    /// The model (its timer never fires on its own during a test) and the panel over it.
    void build();

    /// One evaluation of `perApp` on `power`, with its sleep command carried out.
    void evaluate(std::vector<nodwarden::ActivitySignal> perApp,
                  nodwarden::PowerSnapshot power = FakePowerSources::mains(),
                  nodwarden::LidState lid = nodwarden::LidState::open);

    /// Starts the model: the launch repair runs (and may raise the stale-block warning).
    void start() {
        model->start();
        AppModelHarness::settle(*model);
    }

    template <typename Widget = QWidget> Widget* find(const char* objectName) const {
        return panel->findChild<Widget*>(QString::fromLatin1(objectName));
    }

    std::string text(const char* labelName) const;

    /// Whether the named child would be seen when the panel is shown.
    bool shown(const char* objectName) const {
        const QWidget* widget = find(objectName);
        return widget != nullptr && widget->isVisibleTo(panel.get());
    }

    void click(const char* objectName);

    static nodwarden::ActivitySignal agent(nodwarden::SignalStrength strength, std::string name,
                                           std::string reason,
                                           std::optional<std::string> matched = std::nullopt,
                                           std::optional<int> sessions = std::nullopt);

    /// How many opaque pixels of `image` within `area` lie within `tolerance` of `color`.
    static int pixelsNear(const QImage& image, const QRect& area, const QColor& color,
                          int tolerance);

    /// The first catalog agent that can only be seen through on-screen text.
    static std::optional<nodwarden::AgentProfile> textOnlyAgent();

    AppModelHarness harness;
    std::unique_ptr<nodwarden::app::AppModel> model;
    std::unique_ptr<nodwarden::app::StatusPanel> panel;
};

} // namespace stayloom::testing
