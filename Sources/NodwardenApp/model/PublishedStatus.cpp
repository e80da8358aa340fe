#include <NodwardenApp/model/PublishedStatus.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>

#include <utility>

namespace nodwarden::app {

using detail::assignIfChanged;
using detail::qstring;

PublishedStatus::PublishedStatus(std::function<Date()> clock, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), statusSince_(clock_()) {}

std::optional<QString> PublishedStatus::lockWarning() const {
    if (keepAwakeLocks_.warning.empty()) {
        return std::nullopt;
    }
    return qstring(keepAwakeLocks_.warning);
}

bool PublishedStatus::isFrom(const GuardDecision& decision, const PowerSnapshot& power,
                             LidState lid, const GuardSettings& settings,
                             bool accessibilityTrusted) const {
    return basis_ && basis_->decision == decision && basis_->power == power && basis_->lid == lid &&
           basis_->accessibilityTrusted == accessibilityTrusted && basis_->settings == settings;
}

QString PublishedStatus::agentSummary() const {
    return qstring(PanelTexts::agentSummary(agentRows_));
}

QString PublishedStatus::statusIconName() const {
    return qstring(PanelTexts::statusIconName(status_, agentRows_));
}

QString PublishedStatus::heroGlyph() const {
    return qstring(PanelTexts::heroGlyph(status_));
}

void PublishedStatus::setStatus(GuardStatus status) {
    assignIfChanged(status_, status, [this] {
        statusSince_ = clock_();
        emit statusChanged();
    });
}

void PublishedStatus::setDetectedAppName(const QString& name) {
    assignIfChanged(detectedAppName_, name, [this] { emit detectedAppNameChanged(); });
}

void PublishedStatus::setBatteryDescription(const QString& description) {
    assignIfChanged(batteryDescription_, description, [this] { emit batteryDescriptionChanged(); });
}

void PublishedStatus::setBatteryPercent(std::optional<int> percent) {
    assignIfChanged(batteryPercent_, percent, [this] { emit batteryPercentChanged(); });
}

void PublishedStatus::setIsOnACPower(bool onACPower) {
    assignIfChanged(isOnACPower_, onACPower, [this] { emit isOnACPowerChanged(); });
}

void PublishedStatus::setIsBatteryWarning(bool warning) {
    assignIfChanged(isBatteryWarning_, warning, [this] { emit isBatteryWarningChanged(); });
}

void PublishedStatus::setLidDescription(const QString& description) {
    assignIfChanged(lidDescription_, description, [this] { emit lidDescriptionChanged(); });
}

void PublishedStatus::setStatusReason(const QString& reason, const QString& inSourceLanguage) {
    statusReasonInSourceLanguage_ = inSourceLanguage;
    assignIfChanged(statusReason_, reason, [this] { emit statusReasonChanged(); });
}

void PublishedStatus::setLastSignalStrength(SignalStrength strength) {
    assignIfChanged(lastSignalStrength_, strength, [this] { emit lastSignalStrengthChanged(); });
}

void PublishedStatus::setAgentRows(std::vector<AgentStatusRow> rows) {
    assignIfChanged(agentRows_, std::move(rows), [this] { emit agentRowsChanged(); });
}

void PublishedStatus::setAccessibilityWarning(std::optional<QString> warning) {
    assignIfChanged(accessibilityWarning_, std::move(warning),
                    [this] { emit accessibilityWarningChanged(); });
}

void PublishedStatus::setKeepAwakeLocks(KeepAwakeLocks locks) {
    assignIfChanged(keepAwakeLocks_, std::move(locks), [this] { emit keepAwakeLocksChanged(); });
}

} // namespace nodwarden::app
