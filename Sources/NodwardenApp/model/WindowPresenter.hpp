#pragma once

#include <NodwardenApp/model/SettingsTab.hpp>

namespace nodwarden::app {

/// The program's own windows, as the model names them.
enum class AppWindow { legal, onboarding, settings };

/// Panes of the system settings the model may send the user to.
enum class SystemSettingsPane { loginItems, accessibility };

/// How the model shows and hides windows without knowing any widget. The user interface
/// implements it and tells the model about every window that closes by calling
/// `AppModel::windowWillClose`. All calls happen on the main thread.
class WindowPresenter {
public:
    virtual ~WindowPresenter() = default;

    /// Creates the terms window when it does not exist (no close button), brings it to the
    /// front and activates the program.
    virtual void presentLegalWindow() = 0;
    /// Closes the terms window if it is open.
    virtual void closeLegalWindow() = 0;
    /// Creates the first-run window when it does not exist, brings it to the front and
    /// activates the program.
    virtual void presentOnboardingWindow() = 0;
    /// Creates the settings window when it does not exist, shows `tab` (the model's selected
    /// tab), brings it to the front and activates the program.
    virtual void presentSettingsWindow(SettingsTab tab) = 0;
    /// Whether the settings window exists right now.
    virtual bool isSettingsWindowOpen() const = 0;
    /// Opens the desktop's own settings at `pane` (or the nearest equivalent).
    virtual void openSystemSettingsPane(SystemSettingsPane pane) = 0;
};

} // namespace nodwarden::app
