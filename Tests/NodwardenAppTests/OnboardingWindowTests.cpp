#include "AppSupport/FirstRunTestSupport.hpp"

#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/ui/firstrun/OnboardingWindow.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <gtest/gtest.h>

#include <set>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::click;
using stayloom::testing::findNamed;
using stayloom::testing::SignalCounter;

namespace {

/// A model past the terms whose first run is still to do, and its first-run window on screen.
struct OnboardingFixture {
    explicit OnboardingFixture(AppMode initialMode = AppMode::off) {
        harness.defaults->setValue(QString::fromUtf8(StoredKeys::acceptedLegalVersion.data()),
                                   harness.wording->legalVersion);
        SettingsStore::saveMode(*harness.defaults, initialMode);
        harness.power.setPower(stayloom::testing::FakePowerSources::mains());
        model = stayloom::testing::startedModel(harness);
        window = std::make_unique<OnboardingWindow>(*model);
        stayloom::testing::showActive(*window);
    }

    QPushButton* next() { return findNamed<QPushButton>(*window, "nextButton"); }
    QPushButton* back() { return findNamed<QPushButton>(*window, "backButton"); }
    QString title() { return findNamed<QLabel>(*window, "stepTitle")->text(); }
    QString detail() { return findNamed<QLabel>(*window, "stepDetail")->text(); }

    void goToStep(int step) {
        while (window->step() < step) {
            click(next());
        }
        ASSERT_EQ(window->step(), step);
    }

    bool completedStored() {
        return harness.reopenDefaults()
            ->value(QString::fromUtf8(StoredKeys::hasCompletedOnboarding.data()), false)
            .toBool();
    }

    std::vector<QCheckBox*> agentToggles() {
        std::vector<QCheckBox*> toggles;
        for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
            if (box->objectName().startsWith(QStringLiteral("agentToggle_"))) {
                toggles.push_back(box);
            }
        }
        return toggles;
    }

    AppModelHarness harness;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<OnboardingWindow> window;
};

/// The agents first run offers: every one this system can run, browsers aside.
std::set<std::string> nonBrowserAgentIDs() {
    std::set<std::string> ids;
    for (const AgentProfile& profile : AgentCatalog::offered()) {
        if (profile.kind != AgentProfile::Kind::browser) {
            ids.insert(profile.id);
        }
    }
    return ids;
}

} // namespace

TEST(OnboardingWindow, FooterWalksTheThreeSteps) {
    OnboardingFixture fixture;
    EXPECT_EQ(fixture.window->windowTitle(), QStringLiteral("Set Up Stayloom"));
    EXPECT_TRUE(fixture.window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    auto* dots = findNamed<QWidget>(*fixture.window, "progressDots");

    const struct {
        const char* press;
        int step;
        bool backShown;
        QString next;
        QString title;
    } walk[] = {
        {nullptr, 0, false, QStringLiteral("Continue"),
         QStringLiteral("Confirm which agents to watch")},
        {"nextButton", 1, true, QStringLiteral("Continue"),
         QStringLiteral("Turn on screen-text reading")},
        {"nextButton", 2, true, QStringLiteral("Done"), QStringLiteral("No agents detected yet")},
        {"backButton", 1, true, QStringLiteral("Continue"),
         QStringLiteral("Turn on screen-text reading")},
        {"backButton", 0, false, QStringLiteral("Continue"),
         QStringLiteral("Confirm which agents to watch")},
    };
    for (const auto& expected : walk) {
        if (expected.press) {
            click(findNamed<QPushButton>(*fixture.window, expected.press));
        }
        SCOPED_TRACE(expected.step);
        EXPECT_EQ(fixture.window->step(), expected.step);
        EXPECT_EQ(fixture.back()->isVisible(), expected.backShown);
        EXPECT_EQ(fixture.next()->text(), expected.next);
        EXPECT_EQ(fixture.title(), expected.title);
        EXPECT_EQ(dots->accessibleName(), QStringLiteral("Step %1 of 3").arg(expected.step + 1));
    }
    stayloom::testing::expectNamedControls(*fixture.window);
}

TEST(OnboardingWindow, ReachingTheLastStepSwitchesToWatchingOnlyWhenNeeded) {
    for (const AppMode initial : {AppMode::off, AppMode::manualKeepAwake, AppMode::watchAgentUI}) {
        SCOPED_TRACE(std::string(rawValue(initial)));
        OnboardingFixture fixture(initial);
        ASSERT_EQ(fixture.model->mode(), initial);
        SignalCounter modeChanges(*fixture.model, &AppModel::modeChanged);
        fixture.goToStep(1);
        EXPECT_EQ(modeChanges.count(), 0) << "only the live check changes the mode";
        const int detectionsBefore = fixture.harness.detectionCount();

        fixture.goToStep(2);
        AppModelHarness::settle(*fixture.model);

        EXPECT_EQ(fixture.model->mode(), AppMode::watchAgentUI);
        EXPECT_EQ(SettingsStore::loadMode(*fixture.harness.reopenDefaults()),
                  AppMode::watchAgentUI);
        const bool switched = initial != AppMode::watchAgentUI;
        EXPECT_EQ(modeChanges.count(), switched ? 1 : 0);
        EXPECT_EQ(fixture.harness.detectionCount() > detectionsBefore, switched)
            << "a switch runs a tick at once; an unchanged mode is left alone";
    }
}

TEST(OnboardingWindow, ClosingByAnyMeansCompletesTheFirstRun) {
    for (const bool viaDone : {true, false}) {
        SCOPED_TRACE(viaDone ? "Done" : "the desktop's close button on the first step");
        OnboardingFixture fixture;
        ASSERT_FALSE(fixture.completedStored());
        if (viaDone) {
            fixture.goToStep(2);
            click(fixture.next());
        } else {
            stayloom::testing::closeFromDesktop(*fixture.window);
        }
        EXPECT_FALSE(fixture.window->isVisible());
        EXPECT_TRUE(fixture.completedStored());
        EXPECT_TRUE(fixture.harness.loggedLine("Onboarding completed"));
    }
}

TEST(OnboardingWindow, QuittingTheProgramDoesNotCompleteTheFirstRun) {
    OnboardingFixture fixture;
    fixture.goToStep(1);

    QTimer::singleShot(0, fixture.model.get(), [&fixture] { fixture.model->quit(); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &giveUp, [] { QCoreApplication::exit(1); });
    giveUp.start(15000);

    EXPECT_EQ(QApplication::exec(), 0) << "the quit request did not end the event loop";
    EXPECT_FALSE(fixture.window->isVisible());
    EXPECT_FALSE(fixture.completedStored());

    stayloom::testing::showActive(*fixture.window);
    stayloom::testing::closeFromDesktop(*fixture.window);
    EXPECT_TRUE(fixture.completedStored()) << "a later close is the user's again";
}

TEST(OnboardingWindow, AgentTogglesEditTheSwitchedOffAgents) {
    OnboardingFixture fixture;
    const std::vector<QCheckBox*> toggles = fixture.agentToggles();
    ASSERT_EQ(toggles.size(), nonBrowserAgentIDs().size()) << "one toggle per non-browser agent";
    for (QCheckBox* toggle : toggles) {
        EXPECT_TRUE(toggle->isChecked()) << toggle->objectName().toStdString();
    }

    for (QCheckBox* toggle : toggles) {
        click(toggle);
    }
    const auto& disabled = fixture.model->settings().disabledAgentIDs;
    EXPECT_EQ(std::set<std::string>(disabled.begin(), disabled.end()), nonBrowserAgentIDs());
    EXPECT_EQ(disabled.size(), nonBrowserAgentIDs().size()) << "no identifier twice";
    const GuardSettings saved = SettingsStore::loadSettings(*fixture.harness.reopenDefaults());
    EXPECT_EQ(saved.disabledAgentIDs, disabled);

    auto* claude = findNamed<QCheckBox>(*fixture.window, "agentToggle_claude-code");
    click(claude);
    EXPECT_EQ(std::count(fixture.model->settings().disabledAgentIDs.begin(),
                         fixture.model->settings().disabledAgentIDs.end(), "claude-code"),
              0);
    EXPECT_EQ(fixture.model->settings().disabledAgentIDs.size(), nonBrowserAgentIDs().size() - 1);
}

TEST(OnboardingWindow, TogglesFollowSettingsChangedElsewhere) {
    OnboardingFixture fixture;
    GuardSettings settings = fixture.model->settings();
    settings.disabledAgentIDs = {"cursor"};
    fixture.model->commitSettings(settings);

    EXPECT_FALSE(findNamed<QCheckBox>(*fixture.window, "agentToggle_cursor")->isChecked());
    EXPECT_TRUE(findNamed<QCheckBox>(*fixture.window, "agentToggle_zed")->isChecked());
    EXPECT_EQ(fixture.model->settings().disabledAgentIDs, std::vector<std::string>{"cursor"})
        << "showing the change must not write it back";
}

TEST(OnboardingWindow, AccessibilityNoteFollowsTheWatchedAgents) {
    OnboardingFixture fixture;
    for (QCheckBox* toggle : fixture.agentToggles()) {
        if (toggle->objectName() != QStringLiteral("agentToggle_claude-code")) {
            click(toggle);
        }
    }
    fixture.goToStep(1);
    EXPECT_TRUE(fixture.detail().startsWith(QStringLiteral("Stayloom reads window titles")));
    EXPECT_TRUE(fixture.detail().endsWith(
        QStringLiteral("It never opens your files. Optional: your watched agents are detected "
                       "without it.")))
        << fixture.detail().toStdString();
}

TEST(OnboardingWindow, GrantingAccessTurnsTheButtonIntoGrantedOnTheNextTick) {
    OnboardingFixture fixture;
    fixture.harness.accessibilityPlatform.setTrusted(false);
    fixture.model->refreshAccessibilityTrust();
    fixture.goToStep(1);
    auto* grant = findNamed<QPushButton>(*fixture.window, "grantAccessButton");
    auto* granted = findNamed<QWidget>(*fixture.window, "accessGrantedRow");
    EXPECT_TRUE(grant->isVisible());
    EXPECT_FALSE(granted->isVisible());

    click(grant);
    EXPECT_EQ(fixture.harness.accessibilityPlatform.promptCount(), 1);
    const auto calls = fixture.harness.windows.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "openSystemSettingsPane(accessibility)"),
              calls.end());
    EXPECT_TRUE(grant->isVisible()) << "still waiting for the user";

    fixture.harness.accessibilityPlatform.setTrusted(true);
    fixture.harness.tickAndSettle(*fixture.model);
    EXPECT_FALSE(grant->isVisible());
    EXPECT_TRUE(granted->isVisible());
}

TEST(OnboardingWindow, LiveCheckShowsTheDetectedAgent) {
    OnboardingFixture fixture;
    fixture.goToStep(2);
    AppModelHarness::settle(*fixture.model);
    auto* result = findNamed<QLabel>(*fixture.window, "detectionResultLabel");
    EXPECT_EQ(fixture.title(), QStringLiteral("No agents detected yet"));
    EXPECT_TRUE(result->text().startsWith(QStringLiteral("Open Claude, Cursor")));

    fixture.harness.setPerApp({AppModelHarness::signal(SignalStrength::strong, "Claude Code")});
    fixture.harness.tickAndSettle(*fixture.model);

    EXPECT_EQ(fixture.title(), QStringLiteral("Watching — Claude Code is working"));
    EXPECT_EQ(result->text(),
              QStringLiteral("You're set — this computer stays awake while agents work."));
    EXPECT_TRUE(findNamed<QWidget>(*fixture.window, "detectionResultIcon")->isVisible());
    auto* reason = findNamed<QLabel>(*fixture.window, "statusReasonLabel");
    EXPECT_EQ(reason->text(), fixture.model->published().statusReason());
    EXPECT_FALSE(reason->text().isEmpty());
}

TEST(OnboardingWindow, LaunchAtLoginShowsWhatTheModelMadeOfIt) {
    const QString blocked =
        QStringLiteral("The autostart entry could not be written (no autostart folder). Check that "
                       "~/.config/autostart exists and is yours to write.");
    const struct {
        const char* name;
        std::optional<std::string> registerError;
        LoginItemStatus after;
        bool checked;
        std::optional<QString> message;
    } cases[] = {
        {"enabled", std::nullopt, LoginItemStatus::enabled, true, std::nullopt},
        {"refused", "no autostart folder", LoginItemStatus::enabled, false, blocked},
        {"needs approval", std::nullopt, LoginItemStatus::requiresApproval, true,
         QStringLiteral("Allow “Stayloom” in your desktop's startup applications so it starts at "
                        "your next login.")},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        OnboardingFixture fixture;
        fixture.harness.loginItems.setRegisterError(testCase.registerError);
        fixture.harness.loginItems.setStatusAfterRegister(testCase.after);
        fixture.goToStep(2);
        auto* box = findNamed<QCheckBox>(*fixture.window, "launchAtLoginCheckBox");
        auto* message = findNamed<QLabel>(*fixture.window, "launchAtLoginMessageLabel");
        ASSERT_FALSE(box->isChecked());
        EXPECT_FALSE(message->isVisible());

        click(box);

        EXPECT_EQ(fixture.harness.loginItems.registerCount(), 1);
        EXPECT_EQ(box->isChecked(), testCase.checked);
        EXPECT_EQ(fixture.model->settings().launchAtLoginEnabled, testCase.checked);
        EXPECT_EQ(message->isVisible(), testCase.message.has_value());
        EXPECT_EQ(message->text(), testCase.message.value_or(QString()));

        if (testCase.checked) {
            click(box);
            EXPECT_EQ(fixture.harness.loginItems.unregisterCount(), 1);
            EXPECT_FALSE(box->isChecked());
            EXPECT_FALSE(message->isVisible());
            EXPECT_TRUE(fixture.harness.loggedLine("Launch at login disabled"));
        }
    }
}

TEST(OnboardingWindow, OpenSettingsShowsTheAgentsTab) {
    OnboardingFixture fixture;
    click(findNamed<QPushButton>(*fixture.window, "openSettingsButton"));
    EXPECT_EQ(fixture.model->selectedSettingsTab(), SettingsTab::agents);
    EXPECT_EQ(fixture.harness.windows.calls(),
              std::vector<std::string>{"presentSettingsWindow(agents)"});
}

TEST(OnboardingWindow, ScreenshotsOfEachStepShowEverythingUnclipped) {
    OnboardingFixture fixture;
    fixture.harness.accessibilityPlatform.setTrusted(false);
    fixture.model->refreshAccessibilityTrust();
    fixture.harness.loginItems.setStatusAfterRegister(LoginItemStatus::requiresApproval);

    for (int step = 0; step < 3; ++step) {
        fixture.goToStep(step);
        if (step == 2) {
            fixture.harness.setPerApp(
                {AppModelHarness::signal(SignalStrength::strong, "Claude Code")});
            fixture.harness.tickAndSettle(*fixture.model);
            click(findNamed<QCheckBox>(*fixture.window, "launchAtLoginCheckBox"));
        }
        SCOPED_TRACE(step);
        EXPECT_LE(fixture.window->height(), 560) << "close to the planned 480 points";
        stayloom::testing::expectContentFits(*fixture.window);
        stayloom::testing::expectReadableTexts(*fixture.window);
        stayloom::testing::saveScreenshot(
            *fixture.window, QStringLiteral("firstrun-onboarding-step%1.png").arg(step));
    }
}

TEST(OnboardingWindow, BodyTextsReadAtAAContrastInLightAndDarkThemes) {
    const stayloom::testing::UsingWording linuxWording(PlatformWording::linuxDesktop());
    QPalette light(Qt::black, QColor(239, 239, 239));
    QPalette dark(Qt::white, QColor(53, 53, 53));
    const QPalette before = QApplication::palette();
    for (const QPalette& theme : {light, dark}) {
        QApplication::setPalette(theme);
        OnboardingFixture fixture;
        fixture.harness.accessibilityPlatform.setTrusted(false);
        fixture.model->refreshAccessibilityTrust();
        // The agents step as drawn, before the step that asks for screen-text reading.
        stayloom::testing::expectReadableTexts(*fixture.window);
        fixture.goToStep(1);
        for (const char* name : {"stepDetail", "grantAccessHint"}) {
            const auto* label = findNamed<QLabel>(*fixture.window, name);
            ASSERT_NE(label, nullptr) << name;
            ASSERT_TRUE(label->isVisibleTo(fixture.window.get())) << name;
            const QColor window = fixture.window->palette().color(QPalette::Window);
            // What the screen shows: the text colour laid over the window at its opacity.
            const QColor text = label->palette().color(label->foregroundRole());
            const double alpha = text.alphaF();
            const QColor shown =
                QColor::fromRgbF(float(text.redF() * alpha + window.redF() * (1 - alpha)),
                                 float(text.greenF() * alpha + window.greenF() * (1 - alpha)),
                                 float(text.blueF() * alpha + window.blueF() * (1 - alpha)));
            EXPECT_GE(Theme::contrastRatio(shown, window), Theme::minimumTextContrast)
                << name << (Theme::isDark(theme) ? " in the dark theme" : " in the light theme");
        }
        // And as drawn, every text of the step.
        stayloom::testing::expectReadableTexts(*fixture.window);
    }
    QApplication::setPalette(before);
}

TEST(OnboardingWindow, AgentColumnsLineUpAcrossTheGroupsUnderEveryStyle) {
    QStyle* before = QApplication::style();
    const QString beforeName = before->name();
    // A dark palette with a style's own widths, as a GTK dark theme gives them.
    const QPalette beforePalette = QApplication::palette();
    QApplication::setPalette(QPalette(Qt::white, QColor(53, 53, 53)));
    for (const QString& style : QStyleFactory::keys()) {
        SCOPED_TRACE(style.toStdString());
        QApplication::setStyle(style);
        OnboardingFixture fixture;
        std::set<int> columns;
        for (const QCheckBox* toggle : fixture.agentToggles()) {
            columns.insert(toggle->mapTo(fixture.window.get(), QPoint(0, 0)).x());
        }
        // Three columns, whichever group a toggle is in; more means a group of its own widths.
        EXPECT_EQ(columns.size(), 3u);
        stayloom::testing::expectContentFits(*fixture.window);
    }
    QApplication::setStyle(beforeName);
    QApplication::setPalette(beforePalette);
}
