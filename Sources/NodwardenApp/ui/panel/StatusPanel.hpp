#pragma once

#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

#include <QWidget>

namespace nodwarden::app {

class AppModel;
class AgentsSection;
class FooterBar;
class HeroView;
class ImpactBand;
class InfoStrip;
class ModePicker;
class WarningRow;

/// The panel the tray icon opens, top to bottom: the status, the mode picker, the lid-closed,
/// stale-sleep and unheeded-lock warnings when present, the impact band, the agents, the power
/// facts and the footer. It shows the model's state only and redraws whenever the model announces a
/// change.
class StatusPanel : public QWidget {
    Q_OBJECT
public:
    /// The panel's width in pixels; its height follows the content.
    static constexpr int panelWidth = 340;

    StatusPanel(AppModel& model, const PanelClock& clock = systemDate, QWidget* parent = nullptr);

public slots:
    /// Reads the whole model again.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fitHeight();

    AppModel& model_;
    HeroView* hero_;
    ModePicker* modePicker_;
    WarningRow* lidClosedBanner_;
    WarningRow* staleSleepRow_;
    /// This desktop's idle manager may suspend despite the locks held.
    WarningRow* lockWarningRow_;
    ImpactBand* impactBand_;
    AgentsSection* agents_;
    InfoStrip* infoStrip_;
    FooterBar* footer_;
};

} // namespace nodwarden::app
