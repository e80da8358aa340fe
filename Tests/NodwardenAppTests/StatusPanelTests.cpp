#include "AppSupport/FirstRunTestSupport.hpp"
#include "AppSupport/StatusPanelScene.hpp"

#include <NodwardenCore/catalog/AgentCatalog.hpp>

#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/ui/panel/AgentsSection.hpp>
#include <NodwardenApp/ui/panel/ClickableFrame.hpp>
#include <NodwardenApp/ui/panel/ElidedLabel.hpp>
#include <NodwardenApp/ui/panel/ImpactBand.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>
#include <NodwardenApp/ui/panel/WarningRow.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::FakePowerSources;
using stayloom::testing::StatusPanelScene;

namespace {

bool contains(const std::vector<std::string>& calls, const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

std::vector<const AgentRowView*> agentRows(const StatusPanelScene& scene) {
    std::vector<const AgentRowView*> rows;
    for (const auto* row : scene.panel->findChildren<AgentRowView*>()) {
        rows.push_back(row);
    }
    return rows;
}

} // namespace

// MARK: - Mode picker

TEST(ModePicker, ShowsTheModeInForceWhicheverItIs) {
    // A mode without a segment highlights none and is named under them.
    const std::vector<std::pair<AppMode, const char*>> cases = {
        {AppMode::watchAgentUI, "modeWatchButton"},
        {AppMode::sleepAfterCurrentWork, nullptr},
        {AppMode::manualKeepAwake, "modeAwakeButton"},
        {AppMode::pluggedInUnlimited, nullptr},
        {AppMode::off, "modeOffButton"},
    };
    for (const auto& [mode, selected] : cases) {
        SCOPED_TRACE(std::string(rawValue(mode)));
        StatusPanelScene scene;
        scene.harness.storeMode(mode);
        scene.build();
        for (const char* name : {"modeWatchButton", "modeAwakeButton", "modeOffButton"}) {
            EXPECT_EQ(scene.find<QPushButton>(name)->isChecked(),
                      selected != nullptr && std::string(name) == selected)
                << name;
        }
        const auto* named = scene.find<QLabel>("modeInForceLabel");
        EXPECT_EQ(named->isHidden(), selected != nullptr);
        if (selected == nullptr) {
            EXPECT_EQ(named->text(),
                      QStringLiteral("Mode: ") + scene.model->wording().modeName(mode));
        }
    }
}

TEST(ModePicker, ChoosingASegmentSetsItsModeAndTheHighlightFollows) {
    struct Case {
        AppMode from;
        const char* button;
        AppMode to;
    };
    const std::vector<Case> cases = {
        {AppMode::sleepAfterCurrentWork, "modeWatchButton", AppMode::watchAgentUI},
        {AppMode::pluggedInUnlimited, "modeWatchButton", AppMode::watchAgentUI},
        {AppMode::off, "modeAwakeButton", AppMode::manualKeepAwake},
        {AppMode::watchAgentUI, "modeOffButton", AppMode::off},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(std::string(rawValue(testCase.from)) + " → " + testCase.button);
        StatusPanelScene scene;
        scene.harness.storeMode(testCase.from);
        scene.build();
        scene.panel->show();
        scene.click(testCase.button);
        EXPECT_EQ(scene.model->mode(), testCase.to);
        EXPECT_EQ(
            scene.harness.reopenDefaults()->value(QStringLiteral("Nodwarden.mode")).toString(),
            panelText(rawValue(testCase.to)))
            << "the choice is saved";
        int checked = 0;
        for (const char* name : {"modeWatchButton", "modeAwakeButton", "modeOffButton"}) {
            checked += scene.find<QPushButton>(name)->isChecked() ? 1 : 0;
        }
        EXPECT_EQ(checked, 1);
        EXPECT_TRUE(scene.find<QPushButton>(testCase.button)->isChecked());
    }
}

TEST(ModePicker, AModeChangedElsewhereMovesTheHighlight) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.build();
    scene.model->setMode(AppMode::manualKeepAwake);
    EXPECT_TRUE(scene.find<QPushButton>("modeAwakeButton")->isChecked());
    EXPECT_FALSE(scene.find<QPushButton>("modeWatchButton")->isChecked());
    scene.model->setMode(AppMode::pluggedInUnlimited);
    EXPECT_FALSE(scene.find<QPushButton>("modeAwakeButton")->isChecked());
    EXPECT_FALSE(scene.find<QLabel>("modeInForceLabel")->isHidden());
}

// MARK: - Impact band

TEST(ImpactBand, EmptyAccountShowsOnlyTheInvitation) {
    StatusPanelScene scene;
    scene.build();
    EXPECT_TRUE(scene.shown("impactEmptyState"));
    EXPECT_EQ(scene.text("impactEmptyText"),
              "This computer's work log starts now — keep an agent running.");
    for (const char* part : {"impactRecencyRow", "impactHeadline", "impactTrophy"}) {
        EXPECT_FALSE(scene.shown(part)) << part;
    }
}

TEST(ImpactBand, HeadlineFigureFollowsTheKeptAwakeThreshold) {
    struct Case {
        const char* name;
        double keptAwake;
        double protectedSeconds;
        int sessions;
        const char* figure;
        const char* caption;
    };
    const std::vector<Case> cases = {
        {"protected time leads while kept-awake time is short", 100, 600, 1, "10 min", "protected"},
        {"kept-awake time leads from three minutes on", 200, 600, 1, "3 min", "kept awake"},
        {"a closed session alone leaves the empty state", 0, 0, 1, "0 min", "kept awake"},
        {"one kept-awake second", 1, 0, 0, "0 min", "kept awake"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        StatusPanelScene scene;
        char json[512];
        std::snprintf(json, sizeof json,
                      R"({"installDate":779000000,"days":{"2025-09-20":{"protectedSeconds":%g,)"
                      R"("keptAwakeSeconds":%g,"manualSeconds":0,"pluggedInUnlimitedSeconds":0,)"
                      R"("sessionsSaved":0,"totalSessions":%d,"protectedSecondsByAgent":{},)"
                      R"("sessionsByAgent":{}}}})",
                      testCase.protectedSeconds, testCase.keptAwake, testCase.sessions);
        scene.storeMetrics(json);
        scene.build();
        EXPECT_FALSE(scene.shown("impactEmptyState"));
        EXPECT_TRUE(scene.shown("impactHeadline"));
        EXPECT_EQ(scene.text("impactHeadlineFigure"), testCase.figure);
        EXPECT_EQ(scene.text("impactHeadlineCaption"), testCase.caption);
        EXPECT_EQ(scene.text("impactHeadlineSince"),
                  ImpactBand::sinceText(779000000).toStdString());
        EXPECT_EQ(scene.text("impactTrophyText"),
                  PanelTexts::panelTrulySavedText(*scene.model).toStdString());
    }
}

TEST(ImpactBand, WithoutProtectedTimeTheTrophyLineInvitesInPlainWords) {
    StatusPanelScene scene;
    scene.storeMetrics(
        R"({"installDate":779000000,"days":{"2025-09-20":{"protectedSeconds":0,)"
        R"("keptAwakeSeconds":600,"manualSeconds":0,"pluggedInUnlimitedSeconds":0,)"
        R"("sessionsSaved":0,"totalSessions":1,"protectedSecondsByAgent":{},"sessionsByAgent":{}}}})");
    scene.build();
    EXPECT_EQ(scene.text("impactTrophyText"),
              "Nothing protected yet — close the lid during a run to count one");
}

TEST(ImpactBand, RecencyRowShowsOnlyARunThatEndedWithinADay) {
    for (const double hoursAgo : {1.0, 23.9, 25.0}) {
        SCOPED_TRACE(hoursAgo);
        StatusPanelScene scene;
        const double endedAt = scene.harness.clock.now() - hoursAgo * 3600;
        char json[768];
        std::snprintf(json, sizeof json,
                      R"({"installDate":779000000,"days":{"2025-09-20":{"protectedSeconds":5400,)"
                      R"("keptAwakeSeconds":0,"manualSeconds":0,"pluggedInUnlimitedSeconds":0,)"
                      R"("sessionsSaved":1,"totalSessions":1,"protectedSecondsByAgent":{},)"
                      R"("sessionsByAgent":{}}},"lastRun":{"agentDisplayName":"Claude Code",)"
                      R"("endedAt":%.1f,"workedSeconds":3900,"protectedSeconds":3900,)"
                      R"("keptAwakeSeconds":0,"finishedNormally":true}})",
                      endedAt);
        scene.storeMetrics(json);
        scene.build();
        EXPECT_EQ(scene.shown("impactRecencyRow"), hoursAgo < 24);
        EXPECT_TRUE(scene.shown("impactTrophy")) << "the saved line stays";
        EXPECT_EQ(scene.text("impactTrophyText"), "1 h 30 min protected · 1 sleep stopped");
        if (hoursAgo < 24) {
            EXPECT_EQ(scene.find<ElidedLabel>("impactLastRunAgent")->fullText().toStdString(),
                      "Claude Code ran 1 h 5 min");
            EXPECT_EQ(scene.text("impactLastRunDetail"),
                      PanelTexts::panelLastRunDetail(*scene.model).toStdString());
        }
    }
}

TEST(ImpactBand, ClickingOpensSettingsOnTheStatisticsTab) {
    StatusPanelScene scene;
    scene.build();
    scene.panel->show();
    scene.click("impactBand");
    EXPECT_EQ(scene.harness.windows.calls(),
              std::vector<std::string>{"presentSettingsWindow(stats)"});

    // A click on the text inside the band counts as well.
    scene.harness.windows.clearCalls();
    scene.click("impactEmptyText");
    EXPECT_EQ(scene.harness.windows.calls(),
              std::vector<std::string>{"presentSettingsWindow(stats)"});
}

// MARK: - Warnings

TEST(WarningRow, StaleSleepRowRestoresAndDisappears) {
    StatusPanelScene scene;
    scene.harness.sleep.setReconcileStuckResult(false);
    scene.build();
    EXPECT_FALSE(scene.shown("staleSleepWarningRow"));
    scene.start();
    ASSERT_TRUE(scene.shown("staleSleepWarningRow"));
    EXPECT_EQ(scene.text("staleSleepWarningRowMessage"),
              "This computer can't sleep — something left system sleep disabled.");
    EXPECT_EQ(scene.text("staleSleepWarningRowHint"),
              "Click to restore normal sleep (asks for your password once).");

    scene.harness.sleep.clearCalls();
    scene.panel->show();
    scene.click("staleSleepWarningRow");
    EXPECT_TRUE(contains(scene.harness.sleep.calls(), "emergencyRestore"));
    EXPECT_FALSE(scene.shown("staleSleepWarningRow")) << "the restore confirmed normal sleep";
}

TEST(WarningRow, LidClosedBannerComesBeforeTheStaleSleepRow) {
    StatusPanelScene scene;
    GuardSettings settings{.keepAwakeWithLidClosed = true};
    scene.harness.storeSettings(settings);
    scene.harness.storeMode(AppMode::manualKeepAwake);
    scene.harness.sleep.setEngageSucceeds(false);
    scene.harness.sleep.setReconcileStuckResult(false);
    scene.build();
    scene.start();
    scene.evaluate({});
    ASSERT_TRUE(PanelTexts::lidClosedWarning(*scene.model).has_value());
    ASSERT_TRUE(scene.shown("lidClosedWarningBanner"));
    ASSERT_TRUE(scene.shown("staleSleepWarningRow"));
    EXPECT_EQ(scene.text("lidClosedWarningBannerMessage"),
              PanelTexts::lidClosedWarning(*scene.model)->toStdString());
    auto* layout = scene.panel->layout();
    EXPECT_LT(layout->indexOf(scene.find("lidClosedWarningBanner")),
              layout->indexOf(scene.find("staleSleepWarningRow")));
}

// MARK: - Agents

TEST(AgentsSection, RowsFollowTheModelInOrderWithPillsAndSummary) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.build();
    EXPECT_TRUE(scene.shown("agentsEmptyRow"));
    EXPECT_EQ(scene.text("agentsSummaryLabel"), "none detected");

    scene.evaluate({
        StatusPanelScene::agent(SignalStrength::presence, "Cursor", "running"),
        StatusPanelScene::agent(SignalStrength::strong, "Claude Code", "cpu", "esc to interrupt",
                                2),
        StatusPanelScene::agent(SignalStrength::weak, "Codex", "session file updated"),
    });
    EXPECT_FALSE(scene.shown("agentsEmptyRow"));
    EXPECT_EQ(scene.text("agentsSummaryLabel"), "2 working");
    const auto rows = agentRows(scene);
    ASSERT_EQ(rows.size(), scene.model->published().agentRows().size());
    ASSERT_EQ(rows.size(), 3u);
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const AgentStatusRow& expected = scene.model->published().agentRows()[index];
        const AgentRowView& view = *rows[index];
        EXPECT_EQ(view.row(), expected);
        EXPECT_EQ(view.accessibleName().toStdString(), expected.name);
        const auto* detail = view.findChild<QLabel*>(QStringLiteral("agentDetail"));
        EXPECT_EQ(detail->text().toStdString(), expected.detail);
        const auto* pill = view.findChild<StatePill*>();
        ASSERT_NE(pill, nullptr);
        EXPECT_EQ(pill->text().toStdString(), expected.state);
        EXPECT_EQ(pill->isWorking(), expected.isWorking);
    }
    EXPECT_EQ(rows[0]->row().name, "Claude Code");
    EXPECT_EQ(rows[2]->row().state, "idle");

    scene.evaluate({});
    EXPECT_TRUE(agentRows(scene).empty());
    EXPECT_TRUE(scene.shown("agentsEmptyRow"));
}

TEST(AgentsSection, WithEveryAgentSwitchedOffSaysNothingIsWatchedAndLeadsToTheAgentsTab) {
    StatusPanelScene scene;
    GuardSettings settings = GuardSettings::defaults();
    for (const AgentProfile& profile : AgentCatalog::builtin()) {
        if (profile.kind != AgentProfile::Kind::browser) {
            settings.disabledAgentIDs.push_back(profile.id);
        }
    }
    std::sort(settings.disabledAgentIDs.begin(), settings.disabledAgentIDs.end());
    scene.harness.storeSettings(settings);
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.build();
    scene.evaluate({});
    EXPECT_TRUE(scene.shown("agentsNothingWatchedRow"));
    EXPECT_FALSE(scene.shown("agentsEmptyRow")) << "not the invitation to start an agent";
    scene.panel->show();
    scene.click("chooseAgentsButton");
    EXPECT_EQ(scene.harness.windows.calls(),
              std::vector<std::string>{"presentSettingsWindow(agents)"});

    // Watching browsers, or one custom app, is watching something.
    for (const bool browsers : {true, false}) {
        GuardSettings watching = settings;
        watching.enableBrowsers = browsers;
        watching.targetApps =
            browsers ? std::vector<std::string>{} : std::vector<std::string>{"my-agent"};
        scene.model->commitSettings(watching);
        AppModelHarness::settle(*scene.model);
        EXPECT_FALSE(scene.shown("agentsNothingWatchedRow")) << browsers;
        EXPECT_TRUE(scene.shown("agentsEmptyRow")) << browsers;
    }
}

TEST(AgentsSection, AnAgentWithoutApplicationIconShowsItsSymbolGreenWhileWorking) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.build();
    scene.evaluate({StatusPanelScene::agent(SignalStrength::strong, "Mystery Agent", "busy"),
                    StatusPanelScene::agent(SignalStrength::presence, "Quiet Agent", "running")});
    const auto rows = agentRows(scene);
    ASSERT_EQ(rows.size(), 2u);
    for (const AgentRowView* row : rows) {
        SCOPED_TRACE(row->row().name);
        EXPECT_FALSE(row->showsApplicationIcon());
        const auto* icon = row->findChild<QLabel*>(QStringLiteral("agentIcon"));
        EXPECT_EQ(icon->accessibleName().toStdString(), row->row().name)
            << "read aloud as the agent, never as a symbol's name";
        const QImage image = icon->pixmap().toImage();
        const int green = StatusPanelScene::pixelsNear(image, image.rect(), Theme::green(), 24);
        EXPECT_EQ(green > 10, row->row().isWorking);
    }
}

TEST(AgentsSection, AccessibilityWarningRowAsksForThePermission) {
    const auto textOnly = StatusPanelScene::textOnlyAgent();
    ASSERT_TRUE(textOnly.has_value());
    StatusPanelScene scene;
    scene.harness.accessibilityPlatform.setTrusted(false);
    scene.build();
    EXPECT_FALSE(scene.shown("accessibilityWarningRow"));
    scene.evaluate(
        {StatusPanelScene::agent(SignalStrength::presence, textOnly->displayName, "running")});
    ASSERT_TRUE(scene.shown("accessibilityWarningRow"));
    EXPECT_EQ(scene.text("accessibilityWarningRowMessage"),
              scene.model->published().accessibilityWarning()->toStdString());
    EXPECT_EQ(scene.text("accessibilityWarningRowHint"),
              "Click to turn on screen-text reading (your desktop's accessibility support).");

    scene.panel->show();
    scene.click("accessibilityWarningRow");
    EXPECT_TRUE(contains(scene.harness.windows.calls(), "openSystemSettingsPane(accessibility)"));
}

// MARK: - Hero, facts and footer

TEST(HeroView, ElapsedTimeAdvancesOnItsOwnWhileShown) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::manualKeepAwake);
    scene.build();
    EXPECT_FALSE(scene.shown("heroElapsedLabel")) << "no elapsed time while not kept awake";
    scene.evaluate({});
    ASSERT_TRUE(scene.model->sleepCommands().guardingSince().has_value());
    EXPECT_EQ(scene.text("heroStatusLabel"), "Keeping Awake");
    EXPECT_TRUE(scene.shown("heroElapsedLabel"));

    const auto* timer = scene.find<QTimer>("heroElapsedTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive()) << "no redraws while the panel is hidden";
    scene.panel->show();
    EXPECT_TRUE(timer->isActive());

    const Date since = *scene.model->sleepCommands().guardingSince();
    scene.harness.clock.set(since + 12 * 60 + 5);
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] {
        return scene.text("heroElapsedLabel") == "· 12m";
    })) << scene.text("heroElapsedLabel");
    scene.harness.clock.set(since + 2 * 3600 + 5 * 60);
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] {
        return scene.text("heroElapsedLabel") == "· 2h 5m";
    })) << scene.text("heroElapsedLabel");

    scene.model->setMode(AppMode::off);
    scene.evaluate({});
    EXPECT_FALSE(scene.shown("heroElapsedLabel"));
    EXPECT_FALSE(timer->isActive()) << "nothing counts: no redraw every second while shown";
    scene.model->setMode(AppMode::manualKeepAwake);
    scene.evaluate({});
    EXPECT_TRUE(timer->isActive());

    scene.panel->hide();
    EXPECT_FALSE(timer->isActive());
}

TEST(StatusPanelInfoStrip, FactsShowChargeSleepAndLid) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::manualKeepAwake);
    scene.build();
    PowerSnapshot unknownCharge = FakePowerSources::mains();
    unknownCharge.batteryPercent.reset();
    scene.evaluate({}, unknownCharge, LidState::closed);
    EXPECT_EQ(scene.text("infoPowerValue"), "—");
    EXPECT_EQ(scene.text("infoSleepValue"), "Blocked");
    EXPECT_EQ(scene.text("infoLidValue"), scene.model->published().lidDescription().toStdString());
    // Green, darkened or lightened until small text reads (4.5:1) on the panel.
    const QPalette blocked = scene.find<QLabel>("infoSleepValue")->palette();
    EXPECT_EQ(blocked.color(QPalette::WindowText), Theme::textTone(Theme::green(), blocked));
    EXPECT_GE(
        Theme::contrastRatio(blocked.color(QPalette::WindowText), blocked.color(QPalette::Window)),
        Theme::minimumTextContrast);

    scene.model->setMode(AppMode::off);
    AppModelHarness::settle(*scene.model);
    scene.evaluate({}, FakePowerSources::battery(25));
    EXPECT_EQ(scene.text("infoPowerValue"), "25%");
    EXPECT_EQ(scene.text("infoSleepValue"), "Normal");
}

TEST(FooterBar, ButtonsCallTheirActions) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::manualKeepAwake);
    scene.build();
    scene.panel->show();
    scene.click("settingsButton");
    EXPECT_EQ(scene.harness.windows.calls(),
              std::vector<std::string>{"presentSettingsWindow(general)"});

    scene.harness.sleep.clearCalls();
    scene.click("restoreButton");
    EXPECT_EQ(scene.model->mode(), AppMode::off);
    EXPECT_TRUE(scene.find<QPushButton>("modeOffButton")->isChecked());
}

TEST(StatusPanel, EveryControlHasAnObjectNameAndAnAccessibleName) {
    StatusPanelScene scene;
    scene.harness.sleep.setReconcileStuckResult(false);
    scene.build();
    scene.start();
    scene.evaluate({StatusPanelScene::agent(SignalStrength::strong, "Claude Code", "busy")});
    for (QWidget* widget : scene.panel->findChildren<QWidget*>()) {
        const bool interactive = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                                 qobject_cast<ClickableFrame*>(widget) != nullptr;
        if (!interactive) {
            continue;
        }
        EXPECT_FALSE(widget->objectName().isEmpty()) << widget->metaObject()->className();
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
    }
}

TEST(StatusPanel, TabReachesEveryControlOnceAndArrowsMoveTheModeWithAVisibleFocus) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.build();
    scene.start();
    stayloom::testing::showActive(*scene.panel);

    std::vector<QWidget*> stops;
    QWidget* start = QApplication::focusWidget();
    ASSERT_NE(start, nullptr);
    for (int press = 0; press < 40; ++press) {
        stayloom::testing::pressKey(*scene.panel, Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        if (focused == start) {
            break;
        }
        stops.push_back(focused);
    }
    stops.push_back(start);
    for (QWidget* widget : scene.panel->findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
            EXPECT_EQ(std::count(stops.begin(), stops.end(), widget), 1)
                << widget->objectName().toStdString();
        }
    }

    // Left and Right move the choice along the picker, and the focus with it; the ends hold.
    scene.find<QPushButton>("modeWatchButton")->setFocus(Qt::TabFocusReason);
    const std::vector<std::tuple<Qt::Key, AppMode, const char*>> steps = {
        {Qt::Key_Right, AppMode::manualKeepAwake, "modeAwakeButton"},
        {Qt::Key_Right, AppMode::off, "modeOffButton"},
        {Qt::Key_Right, AppMode::off, "modeOffButton"},
        {Qt::Key_Left, AppMode::manualKeepAwake, "modeAwakeButton"},
    };
    for (const auto& [key, mode, button] : steps) {
        SCOPED_TRACE(button);
        stayloom::testing::pressKey(*scene.panel, key);
        EXPECT_EQ(scene.model->mode(), mode);
        EXPECT_EQ(QApplication::focusWidget(), scene.find(button));
        EXPECT_TRUE(scene.find<QPushButton>(button)->isChecked());
    }

    // The focus on the chosen (accent-filled) segment shows at 3:1 against the accent.
    auto* chosen = scene.find<QPushButton>("modeAwakeButton");
    const QImage focused = chosen->grab().toImage().convertToFormat(QImage::Format_RGB32);
    scene.panel->setFocus(Qt::OtherFocusReason);
    const QImage unfocused = chosen->grab().toImage().convertToFormat(QImage::Format_RGB32);
    double ring = 1;
    for (int y = 0; y < focused.height(); ++y) {
        for (int x = 0; x < focused.width(); ++x) {
            if (focused.pixel(x, y) != unfocused.pixel(x, y)) {
                ring = std::max(
                    ring, Theme::contrastRatio(QColor(focused.pixel(x, y)), Theme::brandAccent()));
            }
        }
    }
    EXPECT_GE(ring, 3.0);
}
