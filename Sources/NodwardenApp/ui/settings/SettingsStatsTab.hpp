#pragma once

#include <NodwardenCore/model/Date.hpp>

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;

class QVBoxLayout;

namespace nodwarden::app {

class AppModel;
class SettingsBox;
class TrendChart;

/// One agent's protected time: icon, name, hours and a bar relative to the largest entry.
class AgentBarRow : public QWidget {
    Q_OBJECT
public:
    AgentBarRow(const QString& name, double seconds, double maxSeconds, const QIcon& icon,
                QWidget* parent = nullptr);

    /// The bar's share of the available width, 0…1; 0 when the largest entry is 0.
    double fraction() const { return fraction_; }

private:
    double fraction_;
};

/// The usage statistics: impact, time by agent, the longest run, the 30-day trend and reset.
class SettingsStatsTab : public QWidget {
    Q_OBJECT
public:
    explicit SettingsStatsTab(AppModel& model, QWidget* parent = nullptr);

    /// The time the trend ends at; the system clock unless replaced.
    void setClock(std::function<Date()> clock);
    /// Rebuilds every figure from the model's statistics.
    void refresh();
    /// The open reset confirmation, if any.
    QMessageBox* resetConfirmation() const { return confirmation_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildEmptyBox();
    void buildImpactBox();
    void buildAgentsBox();
    void buildLongestBox();
    void buildTrendBox();
    void buildResetBox();
    void refreshAgents();
    void askToReset();

    AppModel& model_;
    std::function<Date()> clock_;
    QVBoxLayout* layout_;

    SettingsBox* emptyBox_ = nullptr;
    SettingsBox* impactBox_ = nullptr;
    QLabel* headline_ = nullptr;
    QLabel* keptWorking_ = nullptr;
    QWidget* recoveredDivider_ = nullptr;
    QLabel* recovered_ = nullptr;
    QLabel* since_ = nullptr;
    SettingsBox* agentsBox_ = nullptr;
    QVBoxLayout* agentRows_ = nullptr;
    SettingsBox* longestBox_ = nullptr;
    QLabel* longest_ = nullptr;
    QLabel* longestDate_ = nullptr;
    SettingsBox* trendBox_ = nullptr;
    TrendChart* chart_ = nullptr;
    QPointer<QMessageBox> confirmation_;
};

} // namespace nodwarden::app
