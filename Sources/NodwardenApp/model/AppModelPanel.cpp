#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>

namespace nodwarden::app {

using detail::qstring;

std::optional<QString> AppModel::lidClosedWarning() const {
    const auto warning = PanelTexts::lidClosedWarning(
        settings_.keepAwakeWithLidClosed, sleep_->sleepPreventionEnabled(),
        sleep_->lidClosedProtectionEngaged(), sleep_->inFlight());
    // The library decides when; the platform says what to do about it.
    return warning ? std::optional<QString>(wording().lidClosedWarning) : std::nullopt;
}

QString AppModel::panelLastRunAgent() const {
    return qstring(PanelTexts::panelLastRunAgent(metrics()));
}

QString AppModel::panelLastRunDetail() const {
    return qstring(PanelTexts::panelLastRunDetail(metrics(), now()));
}

QString AppModel::panelTrulySavedText() const {
    return PanelTexts::panelTrulySavedText(metrics(), wording());
}

} // namespace nodwarden::app
