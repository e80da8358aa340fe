#include "AppSupport/StatusPanelScene.hpp"

#include <NodwardenApp/ui/DesktopUserInterface.hpp>
#include <NodwardenApp/ui/QtWindowPresenter.hpp>
#include <NodwardenApp/ui/panel/StatusPanel.hpp>
#include <NodwardenApp/ui/panel/TrayIcon.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::StatusPanelScene;

namespace {

/// A scene whose model exists but whose panel the tray makes.
struct TrayScene {
    TrayScene() {
        scene.harness.acceptTermsAndOnboarding();
        auto environment = scene.harness.environment();
        environment.tickInterval = 3600;
        environment.firstTickDelay = 3600;
        scene.model = std::make_unique<AppModel>(std::move(environment));
    }
    StatusPanelScene scene;
};

QImage iconImage(const QIcon& icon) {
    return icon.pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32);
}

void processEvents() {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace

// MARK: - Without a system tray

TEST(TrayFallbackWindow, OpensAtStartAndSurvivesClosingUntilActivatedAgain) {
    TrayScene tray;
    TrayIcon icon(*tray.scene.model, tray.scene.harness.clock.function(), false);
    EXPECT_FALSE(icon.usesSystemTray());
    EXPECT_EQ(icon.systemTrayIcon(), nullptr);

    QWidget* window = icon.panelWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible()) << "the panel opens at start";
    EXPECT_TRUE(window->isWindow());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::Popup)) << "a normal window, not a popup";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Stayloom"));
    EXPECT_EQ(icon.panel()->window(), window);
    const auto* note = window->findChild<QLabel*>(QStringLiteral("panelWindowNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), TrayIcon::tr(TrayIcon::windowedNote));
    EXPECT_GE(window->height(), icon.panel()->heightForWidth(StatusPanel::panelWidth))
        << "the window fits the whole panel";

    EXPECT_TRUE(window->close());
    processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(icon.panelWindow(), window) << "closing keeps the panel for the next activation";

    icon.activate();
    EXPECT_TRUE(window->isVisible());
}

// MARK: - With a system tray

TEST(TrayIcon, IconAndToolTipFollowTheStatus) {
    TrayScene tray;
    TrayIcon icon(*tray.scene.model, tray.scene.harness.clock.function(), true);
    QSystemTrayIcon* trayIcon = icon.systemTrayIcon();
    ASSERT_NE(trayIcon, nullptr);
    EXPECT_EQ(trayIcon->toolTip().section(u'\n', 0, 0), QStringLiteral("Stayloom — Off"));
    const QImage offImage = iconImage(trayIcon->icon());
    EXPECT_EQ(offImage, iconImage(symbolIcon(QStringLiteral("moon.zzz"),
                                             Theme::statusColor(GuardStatus::off))));

    tray.scene.model->setMode(AppMode::manualKeepAwake);
    tray.scene.evaluate({});
    ASSERT_EQ(tray.scene.model->published().status(), GuardStatus::keepingAwake);
    EXPECT_EQ(trayIcon->toolTip().section(u'\n', 0, 1),
              QStringLiteral("Stayloom — Keeping Awake\n") +
                  tray.scene.model->published().statusReason());
    const QImage awakeImage = iconImage(trayIcon->icon());
    EXPECT_NE(awakeImage, offImage);
    EXPECT_EQ(awakeImage, iconImage(symbolIcon(QStringLiteral("bolt.fill"),
                                               Theme::statusColor(GuardStatus::keepingAwake))));
}

TEST(TrayIcon, IsDrawnAtTheDevicesPixelsAtScaleTwo) {
    TrayScene tray;
    TrayIcon icon(*tray.scene.model, tray.scene.harness.clock.function(), true);
    ASSERT_NE(icon.systemTrayIcon(), nullptr);
    const QIcon status = icon.systemTrayIcon()->icon();
    constexpr int logical = 22;

    const QPixmap pixmap = status.pixmap(QSize(logical, logical), 2.0);
    EXPECT_EQ(pixmap.size(), QSize(2 * logical, 2 * logical));
    EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);

    // A tray paints the icon into its own surface: at scale 2 that is the full-size drawing,
    // not the logical-size one stretched.
    QImage surface(2 * logical, 2 * logical, QImage::Format_ARGB32_Premultiplied);
    surface.fill(Qt::transparent);
    surface.setDevicePixelRatio(2.0);
    {
        QPainter painter(&surface);
        status.paint(&painter, QRect(0, 0, logical, logical));
    }
    QImage sharp = status.pixmap(QSize(2 * logical, 2 * logical))
                       .toImage()
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    surface.setDevicePixelRatio(1.0);
    EXPECT_EQ(surface, sharp);
}

TEST(TrayIcon, ClickingTheIconTogglesTheFramelessPopup) {
    TrayScene tray;
    TrayIcon icon(*tray.scene.model, tray.scene.harness.clock.function(), true);
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(window->isVisible()) << "the popup waits for a click";
    }

    // The first click builds the popup.
    emit icon.systemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    QWidget* popup = icon.panelWindow();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(popup->windowFlags().testFlag(Qt::Popup));
    EXPECT_TRUE(popup->windowFlags().testFlag(Qt::FramelessWindowHint));
    emit icon.systemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(popup->isVisible());
    emit icon.systemTrayIcon()->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(popup->isVisible()) << "the context click shows the menu, not the panel";

    icon.activate();
    EXPECT_TRUE(popup->isVisible()) << "a second start brings the panel forward";
    popup->hide();
}

TEST(TrayIcon, TheMenusRadioItemsSwitchTheModeAndATimedKeepAwakeReturnsToTheModeBefore) {
    TrayScene tray;
    AppModel& model = *tray.scene.model;
    model.setMode(AppMode::sleepAfterCurrentWork);
    TrayIcon icon(model, tray.scene.harness.clock.function(), true);
    ASSERT_NE(icon.menu(), nullptr);
    const auto action = [&icon](const QString& name) {
        QAction* found = icon.menu()->findChild<QAction*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    };
    const auto modeAction = [&](AppMode mode) {
        return action(QStringLiteral("trayMode_") + panelText(rawValue(mode)));
    };

    // The five modes, named and ordered as every list of modes is, the one in force checked.
    QStringList radios;
    for (QAction* item : icon.menu()->actions()) {
        if (item->isCheckable()) {
            radios << item->text();
        }
    }
    QStringList names;
    for (const auto& [mode, name] : model.wording().modeNames) {
        names << name;
    }
    EXPECT_EQ(radios.size(), 5);
    EXPECT_EQ(radios, names);
    EXPECT_TRUE(modeAction(AppMode::sleepAfterCurrentWork)->isChecked());

    modeAction(AppMode::off)->trigger();
    EXPECT_EQ(model.mode(), AppMode::off);
    EXPECT_TRUE(modeAction(AppMode::off)->isChecked());
    EXPECT_FALSE(modeAction(AppMode::sleepAfterCurrentWork)->isChecked());
    model.setMode(AppMode::watchAgentUI);
    EXPECT_TRUE(modeAction(AppMode::watchAgentUI)->isChecked()) << "the check follows the model";

    action(QStringLiteral("trayKeepAwakeFor2h"))->trigger();
    EXPECT_EQ(model.mode(), AppMode::manualKeepAwake);
    EXPECT_TRUE(modeAction(AppMode::manualKeepAwake)->isChecked());
    // Its end on the clock and what is left.
    EXPECT_TRUE(
        icon.systemTrayIcon()->toolTip().contains(QStringLiteral("\nUntil ")) &&
        icon.systemTrayIcon()->toolTip().endsWith(QStringLiteral(" · 2 h left, then ") +
                                                  model.wording().modeName(AppMode::watchAgentUI)))
        << icon.systemTrayIcon()->toolTip().toStdString();
    tray.scene.harness.clock.advance(2 * 3600);
    model.tick();
    EXPECT_EQ(model.mode(), AppMode::watchAgentUI);
    EXPECT_TRUE(modeAction(AppMode::watchAgentUI)->isChecked());
}

// MARK: - Windows

namespace {

struct PresenterScene {
    PresenterScene() {
        QtWindowPresenter::Factories factories;
        factories.settings = [this]() -> QWidget* {
            ++settingsMade;
            auto* window = new QWidget;
            window->setObjectName(QStringLiteral("settingsWindow"));
            return window;
        };
        factories.legal = [this]() -> QWidget* {
            ++legalMade;
            return new QWidget;
        };
        factories.onboarding = [] { return nullptr; };
        factories.selectSettingsTab = [this](QWidget& window, SettingsTab tab) {
            selected.emplace_back(window.objectName().toStdString(), tab);
        };
        presenter = std::make_unique<QtWindowPresenter>(std::move(factories));
        presenter->setWindowClosedHandler([this](AppWindow window) { closed.push_back(window); });
        presenter->setLauncher([this](const QString& program, const QStringList& arguments) {
            launched.push_back((QStringList{program} + arguments).join(QLatin1Char(' ')));
            return true;
        });
    }

    int settingsMade = 0;
    int legalMade = 0;
    std::vector<std::pair<std::string, SettingsTab>> selected;
    std::vector<AppWindow> closed;
    QStringList launched;
    std::unique_ptr<QtWindowPresenter> presenter;
};

} // namespace

TEST(QtWindowPresenter, ReusesTheOpenSettingsWindowAndMakesAFreshOneAfterClosing) {
    PresenterScene scene;
    EXPECT_FALSE(scene.presenter->isSettingsWindowOpen());
    scene.presenter->presentSettingsWindow(SettingsTab::general);
    scene.presenter->presentSettingsWindow(SettingsTab::stats);
    EXPECT_EQ(scene.settingsMade, 1);
    EXPECT_TRUE(scene.presenter->isSettingsWindowOpen());
    QWidget* window = scene.presenter->window(AppWindow::settings);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(scene.selected.size(), 2u);
    EXPECT_EQ(scene.selected.back().second, SettingsTab::stats) << "the requested tab is shown";

    EXPECT_TRUE(window->close());
    EXPECT_FALSE(scene.presenter->isSettingsWindowOpen());
    processEvents();
    EXPECT_EQ(scene.presenter->window(AppWindow::settings), nullptr) << "closed windows are freed";
    EXPECT_EQ(scene.closed, std::vector<AppWindow>{AppWindow::settings});

    scene.presenter->presentSettingsWindow(SettingsTab::power);
    EXPECT_EQ(scene.settingsMade, 2);
    scene.presenter.reset();
    EXPECT_EQ(scene.closed.size(), 1u) << "windows deleted at the end are not reported as closed";
}

TEST(QtWindowPresenter, LegalWindowClosesOnRequestAndMissingWindowsAreNoOps) {
    PresenterScene scene;
    scene.presenter->closeLegalWindow();
    scene.presenter->presentLegalWindow();
    scene.presenter->presentLegalWindow();
    EXPECT_EQ(scene.legalMade, 1);
    ASSERT_NE(scene.presenter->window(AppWindow::legal), nullptr);
    scene.presenter->closeLegalWindow();
    processEvents();
    EXPECT_EQ(scene.presenter->window(AppWindow::legal), nullptr);

    scene.presenter->presentOnboardingWindow();
    EXPECT_EQ(scene.presenter->window(AppWindow::onboarding), nullptr)
        << "a factory without a window yet leaves nothing behind";
}

TEST(QtWindowPresenter, SystemSettingsOpenTheDesktopsOwnPages) {
    struct Case {
        SystemSettingsPane pane;
        const char* desktop;
        std::optional<DesktopCommand> expected;
    };
    const std::vector<Case> cases = {
        {SystemSettingsPane::accessibility, "ubuntu:GNOME",
         DesktopCommand{QStringLiteral("gnome-control-center"),
                        {QStringLiteral("universal-access")}}},
        {SystemSettingsPane::accessibility, "KDE",
         DesktopCommand{QStringLiteral("systemsettings"), {QStringLiteral("kcm_access")}}},
        {SystemSettingsPane::loginItems, "kde",
         DesktopCommand{QStringLiteral("systemsettings"), {QStringLiteral("kcm_autostart")}}},
        {SystemSettingsPane::loginItems, "GNOME",
         DesktopCommand{QStringLiteral("gnome-tweaks"), {}}},
        {SystemSettingsPane::accessibility, "XFCE", std::nullopt},
        {SystemSettingsPane::loginItems, "", std::nullopt},
        {SystemSettingsPane::accessibility, "NOTGNOME", std::nullopt},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.desktop);
        EXPECT_EQ(systemSettingsCommand(testCase.pane, QString::fromLatin1(testCase.desktop)),
                  testCase.expected);
    }

    PresenterScene scene;
    qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    scene.presenter->openSystemSettingsPane(SystemSettingsPane::accessibility);
    qputenv("XDG_CURRENT_DESKTOP", "XFCE");
    scene.presenter->openSystemSettingsPane(SystemSettingsPane::accessibility);
    qunsetenv("XDG_CURRENT_DESKTOP");
    EXPECT_EQ(scene.launched, QStringList{QStringLiteral("gnome-control-center universal-access")});
}

namespace {

/// An `xdg-open` first on PATH that records its arguments and exits with $XDG_OPEN_EXIT, and a
/// desktop without its own settings pages, for one test.
class DesktopWithoutSettingsPages {
public:
    DesktopWithoutSettingsPages() : path_(qgetenv("PATH")), config_(qgetenv("XDG_CONFIG_HOME")) {
        folder_.write("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"" + record().string() +
                                          "\"\nexit \"${XDG_OPEN_EXIT:-0}\"\n");
        std::filesystem::permissions(folder_.path() / "bin/xdg-open",
                                     std::filesystem::perms::owner_all);
        qputenv("PATH", QByteArray((folder_.path() / "bin").c_str()) + ':' + path_);
        qputenv("XDG_CONFIG_HOME", QByteArray((folder_.path() / "config").c_str()));
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
    }
    ~DesktopWithoutSettingsPages() {
        qputenv("PATH", path_);
        config_.isEmpty() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", config_);
        qunsetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("XDG_OPEN_EXIT");
    }

    std::filesystem::path record() const { return folder_.path() / "xdg-open.calls"; }
    std::string calls() const {
        std::ifstream in(record());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    QString autostartFolder() const {
        return QString::fromStdString((folder_.path() / "config/autostart").string());
    }

private:
    stayloom::testing::TemporaryDirectory folder_;
    QByteArray path_;
    QByteArray config_;
};

/// The notice's text once one is shown, waiting up to five seconds for `xdg-open` to end.
QString noticeText(const QtWindowPresenter& presenter, const QString& previous = QString()) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (const auto* box = qobject_cast<const QMessageBox*>(presenter.notice());
            box != nullptr && box->isVisible() && box->text() != previous) {
            return box->text();
        }
    }
    return {};
}

} // namespace

TEST(QtWindowPresenter, WithoutTheDesktopsOwnPagesTheButtonsStillActAndSayWhatHappened) {
    DesktopWithoutSettingsPages desktop;
    PresenterScene scene;
    const PlatformWording& wording = PlatformWording::linuxDesktop();

    scene.presenter->openSystemSettingsPane(SystemSettingsPane::loginItems);
    const QString opened = noticeText(*scene.presenter);
    EXPECT_EQ(opened, wording.loginItemsOpened.arg(desktop.autostartFolder()));
    EXPECT_EQ(desktop.calls(), desktop.autostartFolder().toStdString() + "\n")
        << "the autostart folder itself is handed to xdg-open";
    EXPECT_TRUE(std::filesystem::is_directory(desktop.autostartFolder().toStdString()))
        << "made first, so there is a folder to open";

    // Nothing on this desktop can open a folder: the notice says so and where the entry lives.
    qputenv("XDG_OPEN_EXIT", "3");
    scene.presenter->openSystemSettingsPane(SystemSettingsPane::loginItems);
    EXPECT_EQ(noticeText(*scene.presenter, opened),
              wording.loginItemsNotOpened.arg(desktop.autostartFolder()));

    scene.presenter->openSystemSettingsPane(SystemSettingsPane::accessibility);
    EXPECT_EQ(
        noticeText(*scene.presenter, wording.loginItemsNotOpened.arg(desktop.autostartFolder())),
        wording.accessibilitySwitchedOn);
    EXPECT_EQ(scene.launched, QStringList()) << "no desktop settings program on XFCE";

    // GNOME without its tweaks tool installed: the launcher fails, the folder opens instead.
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    qunsetenv("XDG_OPEN_EXIT");
    scene.presenter->setLauncher([](const QString&, const QStringList&) { return false; });
    scene.presenter->openSystemSettingsPane(SystemSettingsPane::loginItems);
    EXPECT_EQ(noticeText(*scene.presenter, wording.accessibilitySwitchedOn), opened);
    EXPECT_EQ(desktop.calls(),
              QString(desktop.autostartFolder() + u'\n').repeated(3).toStdString());
}

// MARK: - The desktop user interface as the program builds it

TEST(DesktopUserInterface, ShowsThePanelWindowWithoutATrayAndTheTermsThenFirstRunWindows) {
    auto userInterface = makeDesktopUserInterface();
    AppModelHarness harness;
    auto environment = harness.environment();
    environment.windows = &userInterface->windowPresenter();
    environment.tickInterval = 3600;
    environment.firstTickDelay = 3600;
    auto model = std::make_unique<AppModel>(std::move(environment));
    userInterface->install(*model);

    const auto visibleWindow = [](const char* className) -> QWidget* {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && widget->inherits(className)) {
                return widget;
            }
        }
        return nullptr;
    };
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the offscreen platform has no tray";
    QWidget* panelWindow = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("panelWindow")) {
            panelWindow = widget;
        }
    }
    ASSERT_NE(panelWindow, nullptr);
    EXPECT_TRUE(panelWindow->isVisible());

    model->start();
    AppModelHarness::settle(*model);
    EXPECT_NE(visibleWindow("nodwarden::app::LegalWindow"), nullptr) << "the terms wait";

    model->acceptLegal();
    AppModelHarness::settle(*model);
    processEvents();
    EXPECT_EQ(visibleWindow("nodwarden::app::LegalWindow"), nullptr);
    EXPECT_NE(visibleWindow("nodwarden::app::OnboardingWindow"), nullptr);

    panelWindow->close();
    userInterface->activate();
    EXPECT_TRUE(panelWindow->isVisible()) << "a second start brings the panel back";

    // The program ends the model first, then its user interface.
    model.reset();
    userInterface.reset();
}
