#include <NodwardenApp/ui/QtWindowPresenter.hpp>

#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>

#include <utility>

namespace nodwarden::app {

namespace {

bool desktopIs(const QString& desktop, const char* name) {
    const QStringList parts = desktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

bool startDetached(const QString& program, const QStringList& arguments) {
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        return false;
    }
    return QProcess::startDetached(program, arguments);
}

void centreOnScreen(QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect frame(QPoint(0, 0), window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

} // namespace

std::optional<DesktopCommand> systemSettingsCommand(SystemSettingsPane pane,
                                                    const QString& desktop) {
    const bool kde = desktopIs(desktop, "KDE");
    const bool gnome = !kde && (desktopIs(desktop, "GNOME") || desktopIs(desktop, "Unity") ||
                                desktopIs(desktop, "Budgie"));
    switch (pane) {
    case SystemSettingsPane::accessibility:
        if (kde) {
            return DesktopCommand{QStringLiteral("systemsettings"), {QStringLiteral("kcm_access")}};
        }
        if (gnome) {
            return DesktopCommand{QStringLiteral("gnome-control-center"),
                                  {QStringLiteral("universal-access")}};
        }
        return std::nullopt;
    case SystemSettingsPane::loginItems:
        if (kde) {
            return DesktopCommand{QStringLiteral("systemsettings"),
                                  {QStringLiteral("kcm_autostart")}};
        }
        if (gnome) {
            // GNOME's own settings have no start-up page; its tweaks tool has one.
            return DesktopCommand{QStringLiteral("gnome-tweaks"), {}};
        }
        return std::nullopt;
    }
    return std::nullopt;
}

QtWindowPresenter::QtWindowPresenter(Factories factories, const PlatformWording& wording,
                                     QObject* parent)
    : QObject(parent), factories_(std::move(factories)), wording_(wording),
      launcher_(startDetached) {}

QtWindowPresenter::~QtWindowPresenter() {
    for (QPointer<QWidget>* window : {&legal_, &onboarding_, &settings_, &notice_}) {
        if (!window->isNull()) {
            disconnect(window->data(), nullptr, this, nullptr);
            delete window->data();
        }
    }
}

void QtWindowPresenter::setWindowClosedHandler(std::function<void(AppWindow)> handler) {
    windowClosed_ = std::move(handler);
}

void QtWindowPresenter::setLauncher(Launcher launcher) {
    launcher_ = std::move(launcher);
}

QPointer<QWidget>& QtWindowPresenter::slot(AppWindow window) {
    switch (window) {
    case AppWindow::legal:
        return legal_;
    case AppWindow::onboarding:
        return onboarding_;
    case AppWindow::settings:
        return settings_;
    }
    return settings_;
}

QWidget* QtWindowPresenter::window(AppWindow window) const {
    return const_cast<QtWindowPresenter*>(this)->slot(window).data();
}

QWidget* QtWindowPresenter::present(AppWindow which, const WindowFactory& factory) {
    QPointer<QWidget>& held = slot(which);
    if (held.isNull()) {
        QWidget* created = factory ? factory() : nullptr;
        if (created == nullptr) {
            return nullptr;
        }
        created->setAttribute(Qt::WA_DeleteOnClose);
        Theme::applyBrandAccent(*created);
        held = created;
        if (which == AppWindow::settings) {
            // Only a closing that went through (the window is being deleted) counts.
            connect(created, &QObject::destroyed, this, [this] {
                if (windowClosed_) {
                    windowClosed_(AppWindow::settings);
                }
            });
        }
        centreOnScreen(*created);
    }
    QWidget* shown = held.data();
    shown->show();
    shown->setWindowState(shown->windowState() & ~Qt::WindowMinimized);
    shown->raise();
    shown->activateWindow();
    return shown;
}

void QtWindowPresenter::presentLegalWindow() {
    present(AppWindow::legal, factories_.legal);
}

void QtWindowPresenter::closeLegalWindow() {
    if (!legal_.isNull()) {
        legal_->close();
    }
}

void QtWindowPresenter::presentOnboardingWindow() {
    present(AppWindow::onboarding, factories_.onboarding);
}

void QtWindowPresenter::presentSettingsWindow(SettingsTab tab) {
    if (QWidget* shown = present(AppWindow::settings, factories_.settings)) {
        if (factories_.selectSettingsTab) {
            factories_.selectSettingsTab(*shown, tab);
        }
    }
}

bool QtWindowPresenter::isSettingsWindowOpen() const {
    return !settings_.isNull() && settings_->isVisible();
}

void QtWindowPresenter::openSystemSettingsPane(SystemSettingsPane pane) {
    const auto command = systemSettingsCommand(pane, qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (command && launcher_ && launcher_(command->program, command->arguments)) {
        return;
    }
    switch (pane) {
    case SystemSettingsPane::loginItems:
        openAutostartFolder();
        return;
    case SystemSettingsPane::accessibility:
        // The permission request has already switched the accessibility bus on.
        showNotice(wording_.accessibilitySwitchedOn);
        return;
    }
}

void QtWindowPresenter::openAutostartFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/autostart");
    QDir().mkpath(folder);
    auto* opener = new QProcess(this);
    // xdg-open returns once the file manager has the folder, or fails when nothing can open it.
    connect(opener, &QProcess::finished, this,
            [this, opener, folder](int code, QProcess::ExitStatus status) {
                const bool opened = status == QProcess::NormalExit && code == 0;
                showNotice((opened ? wording_.loginItemsOpened : wording_.loginItemsNotOpened)
                               .arg(QDir::toNativeSeparators(folder)));
                opener->deleteLater();
            });
    connect(opener, &QProcess::errorOccurred, this,
            [this, opener, folder](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart) {
                    return;
                }
                showNotice(wording_.loginItemsNotOpened.arg(QDir::toNativeSeparators(folder)));
                opener->deleteLater();
            });
    opener->start(QStringLiteral("xdg-open"), {folder});
}

void QtWindowPresenter::showNotice(const QString& text) {
    if (notice_.isNull()) {
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Stayloom"), text,
                                    QMessageBox::Ok);
        box->setObjectName(QStringLiteral("desktopNotice"));
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        Theme::applyBrandAccent(*box);
        notice_ = box;
    }
    auto* box = static_cast<QMessageBox*>(notice_.data());
    box->setText(text);
    box->setAccessibleName(text);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace nodwarden::app
