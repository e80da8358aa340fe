#pragma once

#include <NodwardenCore/model/AppMode.hpp>

namespace nodwarden::app {

class AppModel;
class WindowPresenter;

/// A face of the program: the desktop's tray icon, panel and windows (ui/), or without a display
/// the terminal's status lines and questions (terminal/). The program builds one before the model
/// (the model needs its window presenter), then installs it on the model and starts the model.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    /// Shows the model's windows; must stay valid as long as the user interface.
    virtual WindowPresenter& windowPresenter() = 0;
    /// Creates the tray icon and panel bound to `model`, which outlives the user interface's use
    /// of it. Called once, before `AppModel::start`.
    virtual void install(AppModel& model) = 0;
    /// Brings the panel forward: a second start of the program asked for it.
    virtual void activate() = 0;
    /// Sets a mode chosen on this face or by a command, as the panel's picker does; where the face
    /// still asks the first run's mode, the choice completes the first run as the tour's closing
    /// does. Only after `install`.
    virtual void chooseMode(AppMode mode) = 0;
};

} // namespace nodwarden::app
