#include <NodwardenApp/ui/DesktopUserInterface.hpp>

#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/ui/QtWindowPresenter.hpp>
#include <NodwardenApp/ui/firstrun/LegalWindow.hpp>
#include <NodwardenApp/ui/firstrun/OnboardingWindow.hpp>
#include <NodwardenApp/ui/panel/TrayIcon.hpp>
#include <NodwardenApp/ui/settings/SettingsWindow.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>

#include <QApplication>
#include <QSystemTrayIcon>

#include <memory>

namespace nodwarden::app {

namespace {

/// The tray (or the panel's window) and the program's windows, bound to the model once it exists.
class DesktopUserInterface final : public UserInterface {
public:
    DesktopUserInterface() : presenter_(windowFactories()) {
        presenter_.setWindowClosedHandler([this](AppWindow window) {
            if (model_ != nullptr) {
                model_->windowWillClose(window);
            }
        });
    }

    WindowPresenter& windowPresenter() override { return presenter_; }

    void install(AppModel& model) override {
        model_ = &model;
        // Every window (and the desktop's task switcher) shows the program's own icon.
        QApplication::setWindowIcon(programIcon());
        // The model is destroyed before the user interface: nothing may reach it afterwards.
        QObject::connect(&model, &QObject::destroyed, &presenter_, [this] { model_ = nullptr; });
        tray_ =
            std::make_unique<TrayIcon>(model, systemDate, QSystemTrayIcon::isSystemTrayAvailable());
    }

    void activate() override {
        if (tray_) {
            tray_->activate();
        }
    }

    void chooseMode(AppMode mode) override {
        if (model_ != nullptr) {
            model_->setMode(mode);
        }
    }

private:
    // MARK: Window factories — one line per window; nullptr while a window does not exist yet.
    QtWindowPresenter::Factories windowFactories() {
        QtWindowPresenter::Factories factories;
        factories.legal = [this]() -> QWidget* {
            return model_ ? new LegalWindow(*model_, QString::fromUtf8(BuildInfo::websiteBaseURL))
                          : nullptr;
        };
        factories.onboarding = [this]() -> QWidget* {
            return model_ ? new OnboardingWindow(*model_) : nullptr;
        };
        factories.settings = [this]() -> QWidget* {
            if (model_ == nullptr) {
                return nullptr;
            }
            SettingsDesktopHooks hooks = SettingsDesktopHooks::standard();
            hooks.openLoginItems = [this] {
                presenter_.openSystemSettingsPane(SystemSettingsPane::loginItems);
            };
            return new SettingsWindow(*model_, std::move(hooks));
        };
        factories.selectSettingsTab = [](QWidget& window, SettingsTab tab) {
            if (auto* settings = qobject_cast<SettingsWindow*>(&window)) {
                settings->selectTab(tab);
            }
        };
        return factories;
    }

    AppModel* model_ = nullptr;
    QtWindowPresenter presenter_;
    std::unique_ptr<TrayIcon> tray_;
};

} // namespace

std::unique_ptr<UserInterface> makeDesktopUserInterface() {
    return std::make_unique<DesktopUserInterface>();
}

} // namespace nodwarden::app
