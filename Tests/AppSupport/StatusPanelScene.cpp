#include "AppSupport/StatusPanelScene.hpp"

#include <cstdlib>

namespace stayloom::testing {

void StatusPanelScene::storeMetrics(const std::string& json) {
    const auto metrics = nodwarden::UsageMetrics::fromJSON(json);
    ASSERT_TRUE(metrics.has_value()) << json;
    nodwarden::app::MetricsStore::save(*harness.defaults, *metrics, *harness.logger);
}

void StatusPanelScene::build() {
    auto environment = harness.environment();
    environment.tickInterval = 3600;
    environment.firstTickDelay = 3600;
    model = std::make_unique<nodwarden::app::AppModel>(std::move(environment));
    panel = std::make_unique<nodwarden::app::StatusPanel>(*model, harness.clock.function());
}

void StatusPanelScene::evaluate(std::vector<nodwarden::ActivitySignal> perApp,
                                nodwarden::PowerSnapshot power, nodwarden::LidState lid) {
    // A detection pass that a mode change queues reads the same machine.
    harness.power.setPower(power);
    harness.power.setLid(lid);
    harness.setPerApp(perApp);
    model->evaluateAndApply(power, lid, perApp, true);
    AppModelHarness::settle(*model);
}

std::string StatusPanelScene::text(const char* labelName) const {
    const auto* label = find<QLabel>(labelName);
    return label != nullptr ? label->text().toStdString()
                            : "<missing " + std::string(labelName) + ">";
}

void StatusPanelScene::click(const char* objectName) {
    QWidget* widget = find(objectName);
    ASSERT_NE(widget, nullptr) << objectName;
    clickAt(widget, QRectF(widget->rect()).center());
    AppModelHarness::settle(*model);
}

nodwarden::ActivitySignal StatusPanelScene::agent(nodwarden::SignalStrength strength,
                                                  std::string name, std::string reason,
                                                  std::optional<std::string> matched,
                                                  std::optional<int> sessions) {
    nodwarden::ActivitySignal signal = AppModelHarness::signal(strength, std::move(name));
    signal.reason = std::move(reason);
    signal.matchedText = std::move(matched);
    signal.sessionCount = sessions;
    return signal;
}

int StatusPanelScene::pixelsNear(const QImage& image, const QRect& area, const QColor& color,
                                 int tolerance) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = QColor::fromRgba(image.pixel(x, y));
            count += pixel.alpha() > 200 && std::abs(pixel.red() - color.red()) < tolerance &&
                     std::abs(pixel.green() - color.green()) < tolerance &&
                     std::abs(pixel.blue() - color.blue()) < tolerance;
        }
    }
    return count;
}

std::optional<nodwarden::AgentProfile> StatusPanelScene::textOnlyAgent() {
    for (const auto& profile :
         nodwarden::AgentResolver::make(nodwarden::GuardSettings::defaults()).profiles) {
        if (nodwarden::AccessibilityNotice::isUITextOnly(profile)) {
            return profile;
        }
    }
    return std::nullopt;
}

} // namespace stayloom::testing
