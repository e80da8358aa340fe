#include "AppSupport/SettingsWindowHarness.hpp"

#include <NodwardenApp/model/ModeWords.hpp>

#include <NodwardenApp/model/SettingsStore.hpp>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>

#include <filesystem>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::SettingsWindowHarness;

namespace {

QTabBar* tabBar(const SettingsWindowHarness& fixture) {
    auto* tabs = fixture.find<QTabWidget>(QStringLiteral("settingsTabs"));
    return tabs ? tabs->tabBar() : nullptr;
}

} // namespace

TEST(SettingsWindow, OpensAtItsSizeAndCannotShrinkBelowTheMinimum) {
    SettingsWindowHarness fixture;
    fixture.show();
    EXPECT_EQ(fixture.window->windowTitle(), QStringLiteral("Stayloom Settings"));
    EXPECT_EQ(fixture.window->size(), QSize(760, 680));
    EXPECT_EQ(fixture.window->minimumSize(), QSize(720, 620));
    fixture.window->resize(500, 400);
    QApplication::processEvents();
    EXPECT_GE(fixture.window->width(), 720);
    EXPECT_GE(fixture.window->height(), 620);
    EXPECT_TRUE(fixture.window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(fixture.window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

TEST(SettingsWindow, EveryControlCarriesAnObjectAndAnAccessibleName) {
    SettingsWindowHarness fixture;
    const auto check = [](const QList<QWidget*>& widgets) {
        for (QWidget* widget : widgets) {
            EXPECT_FALSE(widget->objectName().isEmpty()) << widget->metaObject()->className();
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
        }
    };
    const auto controls = [&](auto* type) {
        using Widget = std::remove_pointer_t<decltype(type)>;
        QList<QWidget*> result;
        for (Widget* widget : fixture.window->findChildren<Widget*>()) {
            // Qt's own scroll bars and tab-bar scrollers are not controls of this window.
            if (!widget->objectName().startsWith(QStringLiteral("qt_")) &&
                qobject_cast<QTabBar*>(widget->parent()) == nullptr) {
                result.append(widget);
            }
        }
        return result;
    };
    const auto buttons = controls(static_cast<QAbstractButton*>(nullptr));
    EXPECT_GE(buttons.size(), 40) << "check boxes and buttons of all six tabs";
    check(buttons);
    check(controls(static_cast<QSlider*>(nullptr)));
    check(controls(static_cast<QComboBox*>(nullptr)));
    check(controls(static_cast<QPlainTextEdit*>(nullptr)));
    check(controls(static_cast<QScrollArea*>(nullptr)));
    EXPECT_FALSE(fixture.window->accessibleName().isEmpty());
}

TEST(SettingsWindow, ShownTabAndModelSelectionFollowEachOther) {
    SettingsWindowHarness fixture;
    fixture.show();
    QTabBar* bar = tabBar(fixture);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->count(), 6);
    for (std::size_t index = 0; index < settingsTabAllCases.size(); ++index) {
        EXPECT_EQ(bar->tabText(int(index)).toStdString(), label(settingsTabAllCases[index]));
    }

    fixture.model->setSelectedSettingsTab(SettingsTab::stats);
    EXPECT_EQ(fixture.window->currentTab(), SettingsTab::stats);

    stayloom::testing::clickAt(bar, bar->tabRect(1).center());
    EXPECT_EQ(fixture.model->selectedSettingsTab(), SettingsTab::power);

    fixture.window->selectTab(SettingsTab::advanced);
    EXPECT_EQ(fixture.window->currentTab(), SettingsTab::advanced);
    EXPECT_EQ(fixture.model->selectedSettingsTab(), SettingsTab::advanced);

    // A window made later opens at the tab the model remembers.
    SettingsWindow second(*fixture.model, SettingsDesktopHooks{});
    EXPECT_EQ(second.currentTab(), SettingsTab::advanced);
}

TEST(SettingsWindow, ModePickerOffersTheFiveModesAndSetsTheModelsMode) {
    // The macOS build's names stay as first written; the Linux ones are checked below.
    const stayloom::testing::UsingWording macOSWording(PlatformWording::macOS());
    SettingsWindowHarness fixture;
    fixture.show();
    auto* picker = fixture.find<QComboBox>(QStringLiteral("modePicker"));
    ASSERT_NE(picker, nullptr);
    ASSERT_EQ(picker->count(), 5);
    for (int index = 0; index < 5; ++index) {
        EXPECT_EQ(picker->itemText(index).toStdString(),
                  displayName(appModeAllCases()[std::size_t(index)]));
    }
    EXPECT_EQ(picker->currentText(), QStringLiteral("Off"));

    const int detectionsBefore = fixture.harness.detectionCount();
    for (int index = 1; index < 5; ++index) {
        fixture.press(picker, Qt::Key_Down);
        AppModelHarness::settle(*fixture.model);
        const AppMode expected = appModeAllCases()[std::size_t(index)];
        EXPECT_EQ(fixture.model->mode(), expected);
        EXPECT_EQ(SettingsStore::loadMode(*fixture.harness.reopenDefaults()), expected);
    }
    EXPECT_GE(fixture.harness.detectionCount(), detectionsBefore + 4) << "each choice ticks";

    fixture.model->setMode(AppMode::watchAgentUI);
    EXPECT_EQ(picker->currentText(), QStringLiteral("Watch Agent UI"));
}

TEST(SettingsWindow, OnLinuxTheModePickerNamesAndOrdersTheModesAsTheCommandLineDoes) {
    SettingsWindowHarness fixture;
    fixture.show();
    auto* picker = fixture.find<QComboBox>(QStringLiteral("modePicker"));
    ASSERT_NE(picker, nullptr);
    QStringList names;
    for (int index = 0; index < picker->count(); ++index) {
        names << picker->itemText(index);
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Watch"), QStringLiteral("Manual"),
                                  QStringLiteral("Sleep after work"), QStringLiteral("Unlimited"),
                                  QStringLiteral("Off")}));
    // `stayloom mode` words, in the same order.
    std::vector<std::string> words;
    for (const ModeWord& entry : modeWords()) {
        words.emplace_back(entry.word);
    }
    EXPECT_EQ(words,
              (std::vector<std::string>{"watch", "manual", "sleep-after", "unlimited", "off"}));
    for (int index = 0; index < picker->count(); ++index) {
        EXPECT_EQ(picker->itemData(index).toString().toStdString(),
                  rawValue(modeWords()[std::size_t(index)].mode));
    }
}

TEST(SettingsWindow, StartupTogglesCommitSettingsAndLaunchAtLoginShowsARefusal) {
    SettingsWindowHarness fixture;
    fixture.show();
    auto* restore = fixture.find<QCheckBox>(QStringLiteral("restoreNormalSleepOnQuitCheckBox"));
    auto* display = fixture.find<QCheckBox>(QStringLiteral("letDisplaySleepCheckBox"));
    auto* launch = fixture.find<QCheckBox>(QStringLiteral("launchAtLoginCheckBox"));
    ASSERT_TRUE(restore && display && launch);
    EXPECT_TRUE(restore->isChecked());
    EXPECT_FALSE(display->isChecked());

    stayloom::testing::click(restore);
    stayloom::testing::click(display);
    const GuardSettings stored = SettingsStore::loadSettings(*fixture.harness.reopenDefaults());
    EXPECT_FALSE(stored.restoreNormalSleepOnQuit);
    EXPECT_TRUE(stored.letDisplaySleep);

    // One switch per group of notices, each showing and storing its own group.
    auto* workDone = fixture.find<QCheckBox>(QStringLiteral("notifyWorkDoneCheckBox"));
    auto* problems = fixture.find<QCheckBox>(QStringLiteral("notifyProblemsCheckBox"));
    ASSERT_TRUE(workDone && problems);
    EXPECT_TRUE(workDone->isChecked());
    EXPECT_FALSE(problems->isChecked());
    stayloom::testing::click(workDone);
    stayloom::testing::click(problems);
    const auto notifications =
        SettingsStore::loadSettings(*fixture.harness.reopenDefaults()).notifications;
    EXPECT_EQ(notifications,
              (NotificationChoices{
                  .workDone = false, .safety = true, .batteryWarning = false, .problems = true}));

    fixture.harness.loginItems.setRegisterError("the desktop refused");
    stayloom::testing::click(launch);
    EXPECT_FALSE(launch->isChecked()) << "the model turned the setting back off";
    EXPECT_FALSE(fixture.model->settings().launchAtLoginEnabled);
    auto* message = fixture.find<QLabel>(QStringLiteral("launchAtLoginMessage"));
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->isVisible());
    EXPECT_TRUE(message->text().contains(QStringLiteral("(the desktop refused)")));

    stayloom::testing::click(fixture.find<QPushButton>(QStringLiteral("openLoginItemsButton")));
    EXPECT_EQ(fixture.loginItemsOpened, 1);
}

TEST(SettingsWindow, CurrentStateAndAgentDetectionFollowTheModel) {
    SettingsWindowHarness fixture;
    fixture.show();
    EXPECT_EQ(fixture.text(QStringLiteral("stateLidClosedPreventionValue")),
              QStringLiteral("Disabled"));
    auto* none = fixture.window->findChild<QLabel*>(QStringLiteral("noAgentsDetectedLabel"));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->text(), QStringLiteral("No target agent apps detected right now."));

    fixture.harness.setPerApp({AppModelHarness::signal(SignalStrength::strong, "Claude Code")});
    fixture.model->setMode(AppMode::watchAgentUI);
    AppModelHarness::settle(*fixture.model);
    EXPECT_EQ(fixture.text(QStringLiteral("stateStatusValue")).toStdString(),
              displayName(fixture.model->published().status()));
    EXPECT_EQ(fixture.text(QStringLiteral("stateDetectedAgentValue")),
              QStringLiteral("Claude Code"));
    EXPECT_EQ(fixture.text(QStringLiteral("stateAgentsValue")),
              fixture.model->published().agentSummary());
    EXPECT_EQ(fixture.text(QStringLiteral("stateReason")),
              fixture.model->published().statusReason());
    EXPECT_EQ(fixture.window->findChild<QLabel*>(QStringLiteral("noAgentsDetectedLabel")), nullptr);
    EXPECT_NE(fixture.window->findChild<QWidget*>(QStringLiteral("agentDetectionRow.Claude Code")),
              nullptr);
}

TEST(SettingsWindow, DetectionTabShowsThePermissionAndAsksForIt) {
    SettingsWindowHarness fixture;
    fixture.show();
    fixture.window->selectTab(SettingsTab::detection);
    fixture.harness.accessibilityPlatform.setTrusted(false);
    fixture.model->refreshAccessibilityTrust();
    EXPECT_EQ(fixture.text(QStringLiteral("accessibilityPermissionValue")), QStringLiteral("Off"));
    fixture.harness.accessibilityPlatform.setTrusted(true);
    stayloom::testing::click(
        fixture.find<QPushButton>(QStringLiteral("requestAccessibilityPermissionButton")));
    EXPECT_EQ(fixture.text(QStringLiteral("accessibilityPermissionValue")), QStringLiteral("On"));
    const auto calls = fixture.harness.windows.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "openSystemSettingsPane(accessibility)"),
              calls.end());

    auto* toggle = fixture.find<QCheckBox>(QStringLiteral("accessibilityDetectionCheckBox"));
    ASSERT_NE(toggle, nullptr);
    toggle->click();
    EXPECT_FALSE(fixture.model->settings().accessibilityDetectionEnabled);

    auto* records = fixture.find<QCheckBox>(QStringLiteral("statusRecordDetectionCheckBox"));
    ASSERT_NE(records, nullptr);
    EXPECT_TRUE(records->isChecked());
    records->click();
    EXPECT_FALSE(fixture.model->settings().statusRecordDetectionEnabled);
    EXPECT_FALSE(fixture.model->settings().accessibilityDetectionEnabled)
        << "each switch writes only its own setting";
}

TEST(SettingsWindow, ConnectAgentsListsTheAgentsFoundAndChangesOnlyWhatTheUserAsks) {
    SettingsWindowHarness fixture;
    const auto home = fixture.harness.home.path();
    std::filesystem::create_directories(home / ".claude");
    fixture.show();
    fixture.window->selectTab(SettingsTab::detection);
    EXPECT_NE(fixture.text(QStringLiteral("agentHooksBoxNote")).indexOf(u"never a prompt"), -1);
    stayloom::testing::click(fixture.find<QPushButton>(QStringLiteral("connectAgentsButton")));

    EXPECT_EQ(fixture.text(QStringLiteral("agentHooksState.claude")),
              QStringLiteral("Not connected"));
    EXPECT_EQ(fixture.text(QStringLiteral("agentHooksState.gemini")), QStringLiteral("Not found"));
    // All six, each saying where it was looked for.
    for (const char* word : {"claude", "codex", "gemini", "qwen", "opencode", "copilot"}) {
        EXPECT_FALSE(
            fixture.text(QStringLiteral("agentHooksWhere.") + QLatin1String(word)).isEmpty())
            << word;
    }
    const QString where = fixture.text(QStringLiteral("agentHooksWhere.gemini"));
    EXPECT_TRUE(where.contains(QString::fromStdString((home / ".gemini").string())) &&
                where.contains(u"gemini on the search path"))
        << where.toStdString();
    EXPECT_FALSE(std::filesystem::exists(home / ".claude" / "settings.json"))
        << "nothing is written before the user asks";

    // An agent not found (a desktop's search path often lacks npm's folder) is connected all the
    // same: its file is made where the agent keeps it.
    stayloom::testing::click(fixture.find<QPushButton>(QStringLiteral("agentHooksButton.gemini")));
    EXPECT_EQ(fixture.text(QStringLiteral("agentHooksState.gemini")), QStringLiteral("Connected"));
    EXPECT_TRUE(std::filesystem::is_regular_file(home / ".gemini" / "settings.json"));

    auto* claude = fixture.find<QPushButton>(QStringLiteral("agentHooksButton.claude"));
    stayloom::testing::click(claude);
    EXPECT_EQ(fixture.text(QStringLiteral("agentHooksState.claude")), QStringLiteral("Connected"));
    EXPECT_EQ(claude->text(), QStringLiteral("Disconnect"));
    QFile settings(QString::fromStdString((home / ".claude" / "settings.json").string()));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_TRUE(settings.readAll().contains("/usr/bin/stayloom hook claude UserPromptSubmit"));
    settings.close();

    stayloom::testing::click(claude);
    EXPECT_EQ(fixture.text(QStringLiteral("agentHooksState.claude")),
              QStringLiteral("Not connected"));
    EXPECT_FALSE(std::filesystem::exists(home / ".codex")) << "another agent was touched";
    EXPECT_EQ(fixture.text(QStringLiteral("agentHooksState.gemini")), QStringLiteral("Connected"));
}

TEST(SettingsWindow, AdvancedActionsReachTheModelAndOpenTheLog) {
    SettingsWindowHarness fixture;
    fixture.show();
    fixture.window->selectTab(SettingsTab::advanced);
    const auto logPath = fixture.harness.home.path() / "logs" / "Nodwarden.log";
    EXPECT_EQ(fixture.text(QStringLiteral("logPathLabel")).toStdString(), logPath.string());

    stayloom::testing::click(fixture.find<QPushButton>(QStringLiteral("openLogButton")));
    stayloom::testing::click(fixture.find<QPushButton>(QStringLiteral("openLogFolderButton")));
    ASSERT_EQ(fixture.openedUrls.size(), 2u);
    EXPECT_EQ(fixture.openedUrls[0].toLocalFile().toStdString(), logPath.string());
    EXPECT_EQ(fixture.openedUrls[1].toLocalFile().toStdString(), logPath.parent_path().string());

    fixture.model->setMode(AppMode::watchAgentUI);
    fixture.harness.sleep.setSystemSleepDisabled(true);
#if defined(STAYLOOM_DEBUG_SIMULATOR)
    stayloom::testing::click(fixture.find<QPushButton>(QStringLiteral("simulateActiveButton")));
    AppModelHarness::settle(*fixture.model);
    EXPECT_EQ(fixture.model->published().detectedAppName(),
              QString::fromUtf8(DebugSimulation::appName));
#else
    EXPECT_EQ(fixture.find<QPushButton>(QStringLiteral("simulateActiveButton")), nullptr)
        << "a release build has no simulator";
#endif

    stayloom::testing::click(fixture.find<QPushButton>(QStringLiteral("emergencyRestoreButton")));
    AppModelHarness::settle(*fixture.model);
    EXPECT_EQ(fixture.model->mode(), AppMode::off);
    const auto calls = fixture.harness.sleep.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "emergencyRestore"), calls.end());
}

TEST(SettingsWindow, ClosingAnnouncesItself) {
    SettingsWindowHarness fixture;
    fixture.show();
    int closed = 0;
    QObject::connect(fixture.window.get(), &SettingsWindow::closed, fixture.window.get(),
                     [&closed] { ++closed; });
    fixture.window->close();
    EXPECT_EQ(closed, 1);
}

TEST(SettingsWindow, EscAndCtrlWCloseItAsTheyCloseTheDesktopsOtherWindows) {
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Escape, Qt::KeyboardModifiers(Qt::NoModifier)},
          std::pair{Qt::Key_W, Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
        SettingsWindowHarness fixture;
        fixture.show();
        fixture.window->selectTab(SettingsTab::agents);
        // From inside a text field too, where Esc means nothing else.
        fixture.find<QPlainTextEdit>(QStringLiteral("customAppsField"))->setFocus();
        int closed = 0;
        QObject::connect(fixture.window.get(), &SettingsWindow::closed, fixture.window.get(),
                         [&closed] { ++closed; });
        stayloom::testing::pressKey(*fixture.window, key, modifiers);
        EXPECT_EQ(closed, 1) << key;
        EXPECT_FALSE(fixture.window->isVisible()) << key;
    }
}

TEST(SettingsWindowScreenshots, EveryTabRendersOffscreen) {
    const Date now = 780000000;
    std::vector<std::pair<std::string, DayBucket>> days;
    for (int back = 0; back < 30; back += 3) {
        DayBucket day;
        day.protectedSeconds = 600.0 * (back % 7);
        day.keptAwakeSeconds = 900.0 * (back % 5);
        day.totalSessions = 1;
        day.sessionsSaved = day.protectedSeconds > 0 ? 1 : 0;
        day.protectedSecondsByAgent = {{"Claude Code", day.protectedSeconds * 0.7},
                                       {"Codex", day.protectedSeconds * 0.3}};
        days.emplace_back(UsageMetrics::dayKey(now - back * 86400.0), day);
    }
    SettingsWindowHarness fixture(SettingsWindowHarness::metricsJSON(
        770000000, days, 7525, std::string("Claude Code"), UsageMetrics::dayKey(now)));
    fixture.harness.setPerApp({AppModelHarness::signal(SignalStrength::strong, "Claude Code"),
                               AppModelHarness::signal(SignalStrength::presence, "Codex")});
    fixture.model->setMode(AppMode::watchAgentUI);
    AppModelHarness::settle(*fixture.model);
    fixture.show();

    auto* tabs = fixture.find<QTabWidget>(QStringLiteral("settingsTabs"));
    ASSERT_NE(tabs, nullptr);
    for (const SettingsTab tab : settingsTabAllCases) {
        fixture.window->selectTab(tab);
        QApplication::processEvents();
        const QString name =
            QStringLiteral("settings-") + QString::fromUtf8(label(tab).data()).toLower();
        EXPECT_EQ(fixture.window->size(), QSize(760, 680));
        stayloom::testing::saveScreenshot(*fixture.window, name + QStringLiteral(".png"));
        // The whole scrolling content too, for what lies below the fold.
        auto* pane = qobject_cast<QScrollArea*>(tabs->currentWidget());
        ASSERT_NE(pane, nullptr);
        stayloom::testing::expectContentFits(*pane->widget());
        stayloom::testing::saveScreenshot(*pane->widget(), name + QStringLiteral("-full.png"));
        EXPECT_TRUE(QFile::exists(QCoreApplication::applicationDirPath() +
                                  QStringLiteral("/screenshots/") + name +
                                  QStringLiteral("-full.png")));
    }
}
