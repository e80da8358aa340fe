#pragma once

#include <NodwardenApp/ui/panel/ClickableFrame.hpp>
#include <NodwardenApp/ui/panel/ElidedLabel.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

class QLabel;

namespace nodwarden::app {

class AppModel;
class SymbolLabel;

/// The running tally of time kept working: an invitation while the account is empty; otherwise
/// the last run when it ended within a day, a headline figure and the "truly saved" line.
/// Clicking anywhere on it opens the settings window on its statistics tab.
class ImpactBand : public ClickableFrame {
    Q_OBJECT
public:
    ImpactBand(AppModel& model, PanelClock clock, QWidget* parent = nullptr);

    void refresh();

    /// "since" and the install date on the next line, the date in the medium style.
    static QString sinceText(Date installDate);

private:
    AppModel& model_;
    PanelClock clock_;

    QWidget* emptyState_;
    QWidget* recencyRow_;
    ElidedLabel* lastRunAgent_;
    QLabel* lastRunDetail_;
    QFrame* recencyDivider_;
    QWidget* headlineRow_;
    SymbolLabel* headlineGlyph_;
    QLabel* headlineFigure_;
    QLabel* headlineCaption_;
    QLabel* headlineSince_;
    QWidget* trophyRow_;
    QLabel* trophyText_;
};

} // namespace nodwarden::app
