#pragma once

#include <NodwardenCore/model/AppMode.hpp>

#include <QWidget>

#include <utility>
#include <vector>

class QLabel;
class QPushButton;

namespace nodwarden::app {

class AppModel;

/// Equal segments for the wording's picker modes (Watch, Awake or Manual, Off), the model's mode
/// highlighted; choosing one sets the model's mode. A mode without a segment (sleep after work,
/// unlimited; chosen in the settings or the tray menu) highlights none and is named under them,
/// so the picker always shows the mode in force. Like a radio group, Left and Right (Up and Down)
/// move the choice to the neighbouring segment and the focus with it.
class ModePicker : public QWidget {
    Q_OBJECT
public:
    explicit ModePicker(AppModel& model, QWidget* parent = nullptr);

    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Chooses the segment `step` places from the focused one, if there is one there.
    void chooseNeighbour(QPushButton* from, int step);

    AppModel& model_;
    std::vector<std::pair<AppMode, QPushButton*>> buttons_;
    QLabel* otherMode_ = nullptr;
};

} // namespace nodwarden::app
