#include "AppSupport/SettingsWindowHarness.hpp"

#include <NodwardenCore/model/StoredKeys.hpp>

#include <nlohmann/json.hpp>

namespace stayloom::testing {

SettingsWindowHarness::SettingsWindowHarness(std::optional<std::string> metricsJSON) {
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

void SettingsWindowHarness::press(QWidget* widget, Qt::Key key, int times) {
    ASSERT_NE(widget, nullptr);
    widget->setFocus();
    for (int count = 0; count < times; ++count) {
        pressKey(*window, key);
    }
}

std::string SettingsWindowHarness::metricsJSON(
    nodwarden::Date installDate,
    const std::vector<std::pair<std::string, nodwarden::DayBucket>>& days, double longestSeconds,
    std::optional<std::string> longestAgent, std::optional<std::string> longestDate) {
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

} // namespace stayloom::testing
