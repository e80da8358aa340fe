#pragma once

#include <NodwardenCore/Models.hpp>

#include <QWidget>

#include <array>

class QPushButton;

namespace nodwarden::app {

class AppModel;

/// Three equal segments, "Watch", "Awake" and "Off", with the segment of the model's mode
/// highlighted; choosing one sets the model's mode. The two further modes are shown on the
/// segment they belong to and are chosen only in the settings window.
class ModePicker : public QWidget {
    Q_OBJECT
public:
    explicit ModePicker(AppModel& model, QWidget* parent = nullptr);

    /// The segment (0 to 2) shown as selected for `mode`.
    static int segment(AppMode mode);
    /// The mode that choosing `segment` sets.
    static AppMode modeForSegment(int segment);

    void refresh();

private:
    AppModel& model_;
    std::array<QPushButton*, 3> buttons_{};
};

} // namespace nodwarden::app
