#pragma once

#include <NodwardenApp/model/AgentRows.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/GuardStatus.hpp>
#include <NodwardenCore/model/PowerState.hpp>
#include <NodwardenCore/sleep/KeepAwakeLocks.hpp>

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace nodwarden::app {

/// The decision state as the model last published it for the faces: the headline, the reason,
/// power, lid, the agents' rows and the warnings. The model writes it; each setter assigns only
/// on a real change and then emits that property's change signal, so faces redraw only then.
class PublishedStatus : public QObject {
    Q_OBJECT

public:
    /// What the properties were last worked out from (a tick that changes none assigns none).
    struct Basis {
        GuardDecision decision;
        PowerSnapshot power;
        LidState lid = LidState::unknown;
        GuardSettings settings;
        bool accessibilityTrusted = false;
    };

    /// The texts a status report is built from, with why launch at login is not active: as shown,
    /// or in the program's own English for scripts (`AppModel::sourceTexts`).
    struct Texts {
        QString statusReason;
        QString batteryDescription;
        std::vector<AgentStatusRow> agentRows;
        std::optional<QString> launchAtLoginMessage;
    };

    /// `clock` dates the status changes.
    explicit PublishedStatus(std::function<Date()> clock, QObject* parent = nullptr);

    GuardStatus status() const { return status_; }
    /// Since when the status has been what it is: the last change, or the creation.
    Date statusSince() const { return statusSince_; }
    /// The agent the decision names; "None" when there is none.
    const QString& detectedAppName() const { return detectedAppName_; }
    const QString& batteryDescription() const { return batteryDescription_; }
    std::optional<int> batteryPercent() const { return batteryPercent_; }
    bool isOnACPower() const { return isOnACPower_; }
    bool isBatteryWarning() const { return isBatteryWarning_; }
    /// "Open", "Closed" or "Unknown".
    const QString& lidDescription() const { return lidDescription_; }
    /// The lid as last published.
    LidState lid() const { return basis_ ? basis_->lid : LidState::unknown; }
    const QString& statusReason() const { return statusReason_; }
    /// The reason in the program's own English, for scripts.
    const QString& statusReasonInSourceLanguage() const { return statusReasonInSourceLanguage_; }
    SignalStrength lastSignalStrength() const { return lastSignalStrength_; }
    /// One row per detected agent, working rows first, at most `maxAgentRows`.
    const std::vector<AgentStatusRow>& agentRows() const { return agentRows_; }
    /// The warning about agents that cannot be seen without the Accessibility permission.
    const std::optional<QString>& accessibilityWarning() const { return accessibilityWarning_; }
    /// What the keep-awake helpers hold and which of it this desktop heeds (empty when unknown).
    const KeepAwakeLocks& keepAwakeLocks() const { return keepAwakeLocks_; }
    /// The panel's warning when this desktop's idle manager may suspend despite the locks.
    std::optional<QString> lockWarning() const;
    const std::optional<Basis>& basis() const { return basis_; }
    /// Whether the properties were worked out from just these.
    bool isFrom(const GuardDecision& decision, const PowerSnapshot& power, LidState lid,
                const GuardSettings& settings, bool accessibilityTrusted) const;

    // The texts the panel and the menu-bar icon show for the state above.

    /// "2 working", "0 working" or "none detected".
    QString agentSummary() const;
    /// Symbol name of the menu-bar icon for the current status.
    QString statusIconName() const;
    /// Symbol name of the panel's large status glyph.
    QString heroGlyph() const;

    // The model's side.

    void setStatus(GuardStatus status);
    void setDetectedAppName(const QString& name);
    void setBatteryDescription(const QString& description);
    void setBatteryPercent(std::optional<int> percent);
    void setIsOnACPower(bool onACPower);
    void setIsBatteryWarning(bool warning);
    void setLidDescription(const QString& description);
    /// The reason as shown and as the program's own English.
    void setStatusReason(const QString& reason, const QString& inSourceLanguage);
    void setLastSignalStrength(SignalStrength strength);
    void setAgentRows(std::vector<AgentStatusRow> rows);
    void setAccessibilityWarning(std::optional<QString> warning);
    void setKeepAwakeLocks(KeepAwakeLocks locks);
    void setBasis(std::optional<Basis> basis) { basis_ = std::move(basis); }

signals:
    void statusChanged();
    void detectedAppNameChanged();
    void batteryDescriptionChanged();
    void batteryPercentChanged();
    void isOnACPowerChanged();
    void isBatteryWarningChanged();
    void lidDescriptionChanged();
    void statusReasonChanged();
    void lastSignalStrengthChanged();
    void agentRowsChanged();
    void accessibilityWarningChanged();
    void keepAwakeLocksChanged();

private:
    std::function<Date()> clock_;
    GuardStatus status_ = GuardStatus::off;
    Date statusSince_ = 0;
    QString detectedAppName_ = QStringLiteral("None");
    QString batteryDescription_;
    std::optional<int> batteryPercent_;
    bool isOnACPower_ = false;
    bool isBatteryWarning_ = false;
    QString lidDescription_;
    QString statusReason_;
    QString statusReasonInSourceLanguage_;
    SignalStrength lastSignalStrength_ = SignalStrength::none;
    std::vector<AgentStatusRow> agentRows_;
    std::optional<QString> accessibilityWarning_;
    KeepAwakeLocks keepAwakeLocks_;
    std::optional<Basis> basis_;
};

} // namespace nodwarden::app
