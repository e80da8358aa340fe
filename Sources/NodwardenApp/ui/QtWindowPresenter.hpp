#pragma once

#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/WindowPresenter.hpp>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

namespace nodwarden::app {

/// A program and its arguments that open a part of the desktop's own settings.
struct DesktopCommand {
    QString program;
    QStringList arguments;

    bool operator==(const DesktopCommand&) const = default;
};

/// The desktop's settings for `pane` on the desktop named by `desktop` (the value of
/// XDG_CURRENT_DESKTOP, e.g. "ubuntu:GNOME" or "KDE"): GNOME's and KDE's own settings programs.
/// No value where the desktop has no such page or is not known.
std::optional<DesktopCommand> systemSettingsCommand(SystemSettingsPane pane,
                                                    const QString& desktop);

/// Shows the model's three windows as Qt widgets. Each window is made by its factory when it is
/// first needed (a factory may return nullptr while its window does not exist yet; presenting it
/// then does nothing), reused while it is open, brought to the front on every presentation, and
/// forgotten (and deleted) once it is closed, so the next presentation makes a fresh one. The
/// terms and first-run windows tell the model about their own closing; the settings window's
/// closing is reported through `windowClosed`. Where the desktop has no settings page for a pane
/// (or its program is missing), the nearest real thing happens instead and a short notice says
/// what happened: the autostart folder opens with `xdg-open`, and the accessibility notice says
/// what was switched on and what to switch on by hand.
class QtWindowPresenter final : public QObject, public WindowPresenter {
    Q_OBJECT
public:
    using WindowFactory = std::function<QWidget*()>;

    struct Factories {
        WindowFactory legal;
        WindowFactory onboarding;
        WindowFactory settings;
        /// Shows `tab` in a settings window the factory made.
        std::function<void(QWidget&, SettingsTab)> selectSettingsTab;
    };

    /// Runs `program` with `arguments` detached; returns whether it started.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    explicit QtWindowPresenter(Factories factories,
                               const PlatformWording& wording = PlatformWording::current(),
                               QObject* parent = nullptr);
    /// Deletes the windows still open without reporting them closed: the program is ending.
    ~QtWindowPresenter() override;

    /// Called with every window that closes whose closing the window does not report itself.
    void setWindowClosedHandler(std::function<void(AppWindow)> handler);
    /// Replaces how desktop settings programs are started (tests record instead).
    void setLauncher(Launcher launcher);

    void presentLegalWindow() override;
    void closeLegalWindow() override;
    void presentOnboardingWindow() override;
    void presentSettingsWindow(SettingsTab tab) override;
    bool isSettingsWindowOpen() const override;
    void openSystemSettingsPane(SystemSettingsPane pane) override;

    /// The window of `window` while it exists.
    QWidget* window(AppWindow window) const;
    /// The notice shown last by a fallback, while it is open.
    QWidget* notice() const { return notice_.data(); }

private:
    QPointer<QWidget>& slot(AppWindow window);
    QWidget* present(AppWindow which, const WindowFactory& factory);
    void openAutostartFolder();
    void showNotice(const QString& text);

    Factories factories_;
    std::function<void(AppWindow)> windowClosed_;
    const PlatformWording& wording_;
    Launcher launcher_;
    QPointer<QWidget> notice_;
    QPointer<QWidget> legal_;
    QPointer<QWidget> onboarding_;
    QPointer<QWidget> settings_;
};

} // namespace nodwarden::app
