#pragma once

#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

#include <QColor>
#include <QTimer>
#include <QWidget>

class QLabel;

namespace nodwarden::app {

class AppModel;

/// The top of the panel: a 44-point circle in the status colour holding the status glyph, the
/// status line with the time kept awake so far ("Keeping Awake · 12m"), and the status reason.
/// The elapsed time advances once a second while the view is visible.
class HeroView : public QWidget {
    Q_OBJECT
public:
    HeroView(AppModel& model, PanelClock clock, QWidget* parent = nullptr);

    /// Reads the model again.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refreshElapsed();

    AppModel& model_;
    PanelClock clock_;
    class HeroCircle* circle_;
    QLabel* statusLabel_;
    QLabel* elapsedLabel_;
    QLabel* reasonLabel_;
    QTimer* elapsedTimer_;
};

} // namespace nodwarden::app
