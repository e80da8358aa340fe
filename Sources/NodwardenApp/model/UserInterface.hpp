#pragma once

#include <memory>

namespace nodwarden::app {

class AppModel;
class WindowPresenter;

/// The desktop face of the program: tray icon, panel and windows. The program builds it before
/// the model (the model needs its window presenter), then installs it on the model and starts
/// the model. Without a display the program runs headless and builds none.
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
};

/// The tray and windows of ui/. Defined in ui/DesktopUserInterface.cpp; the program is built to
/// call it only when that file exists.
std::unique_ptr<UserInterface> makeDesktopUserInterface();

} // namespace nodwarden::app
