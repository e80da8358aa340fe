#include "AppSupport/FirstRunTestSupport.hpp"
#include "AppSupport/StatusPanelScene.hpp"

#include <NodwardenApp/platform/UserLanguage.hpp>
#include <NodwardenApp/ui/panel/TrayIcon.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLocale>
#include <QToolTip>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

// Renders the panel in three typical states to PNG files for people to look at (under
// $STAYLOOM_SCREENSHOT_DIR, else "screenshots" in the working folder), and checks in the rendered
// pixels that the status circle carries the status colour and that every text reads (4.5:1).

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::FakePowerSources;
using stayloom::testing::StatusPanelScene;

namespace {

QString screenshotFolder() {
    if (const char* folder = std::getenv("STAYLOOM_SCREENSHOT_DIR"); folder && *folder) {
        return QString::fromLocal8Bit(folder);
    }
    return QDir::current().filePath(QStringLiteral("screenshots"));
}

/// Shows, lays out and renders the panel; saves it as panel-<name>.png and returns the image.
QImage shoot(StatusPanelScene& scene, const char* name) {
    scene.panel->show();
    QCoreApplication::processEvents();
    const QImage image = scene.panel->grab().toImage();
    QDir().mkpath(screenshotFolder());
    const QString path =
        QDir(screenshotFolder()).filePath(QStringLiteral("panel-%1.png").arg(QLatin1String(name)));
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    // Every text as drawn, against what it is drawn on.
    stayloom::testing::expectReadableTexts(*scene.panel);
    return image;
}

/// Saves `image` as <name>.png beside the panel's pictures.
void save(const QImage& image, const QString& name) {
    QDir().mkpath(screenshotFolder());
    const QString path = QDir(screenshotFolder()).filePath(name + QStringLiteral(".png"));
    EXPECT_TRUE(image.save(path)) << path.toStdString();
}

/// Whether the status circle of the rendered panel shows `color` (the glyph in full colour).
void expectStatusCircleColour(const StatusPanelScene& scene, const QImage& image,
                              const QColor& color) {
    const QWidget* circle = scene.find("heroGlyph");
    ASSERT_NE(circle, nullptr);
    const QRect area(circle->mapTo(scene.panel.get(), QPoint(0, 0)), circle->size());
    EXPECT_GT(StatusPanelScene::pixelsNear(image, area, color, 20), 15)
        << "status glyph in " << color.name().toStdString();
}

std::string metricsWithRecentRun(Date now) {
    char json[1024];
    std::snprintf(json, sizeof json,
                  R"({"installDate":%.1f,"days":{"2025-09-20":{"protectedSeconds":9000,)"
                  R"("keptAwakeSeconds":26640,"manualSeconds":0,"pluggedInUnlimitedSeconds":0,)"
                  R"("sessionsSaved":3,"totalSessions":7,"protectedSecondsByAgent":{},)"
                  R"("sessionsByAgent":{}}},"lastRun":{"agentDisplayName":"Claude Code",)"
                  R"("endedAt":%.1f,"workedSeconds":3900,"protectedSeconds":3900,)"
                  R"("keptAwakeSeconds":0,"finishedNormally":true}})",
                  now - 40 * 86400, now - 2 * 3600);
    return json;
}

} // namespace

TEST(StatusPanelScreenshots, EmptyWatching) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.build();
    scene.evaluate({}, FakePowerSources::battery(84));
    ASSERT_EQ(scene.model->published().status(), GuardStatus::watching);
    const QImage image = shoot(scene, "empty");
    expectStatusCircleColour(scene, image, Theme::blue());
    EXPECT_TRUE(scene.shown("impactEmptyState"));
    EXPECT_TRUE(scene.shown("agentsEmptyRow"));
}

TEST(StatusPanelScreenshots, KeepingAwakeWithThreeAgents) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.storeMetrics(metricsWithRecentRun(scene.harness.clock.now()));
    scene.build();
    const std::vector<ActivitySignal> agents = {
        StatusPanelScene::agent(SignalStrength::strong, "Claude Code", "cpu", "esc to interrupt",
                                2),
        StatusPanelScene::agent(SignalStrength::weak, "Codex", "session file updated 4s ago"),
        StatusPanelScene::agent(SignalStrength::presence, "Cursor", "running"),
    };
    scene.evaluate(agents);
    scene.harness.clock.advance(12 * 60 + 7);
    scene.evaluate(agents);
    ASSERT_EQ(scene.model->published().status(), GuardStatus::keepingAwake);
    const QImage image = shoot(scene, "keeping-awake");
    expectStatusCircleColour(scene, image, Theme::green());
    EXPECT_EQ(scene.text("heroElapsedLabel"), "· 12m");
    EXPECT_TRUE(scene.shown("impactRecencyRow"));
}

TEST(StatusPanelScreenshots, BatterySafetyWithWarnings) {
    const auto textOnly = StatusPanelScene::textOnlyAgent();
    ASSERT_TRUE(textOnly.has_value());
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.harness.accessibilityPlatform.setTrusted(false);
    scene.harness.sleep.setReconcileStuckResult(false);
    scene.storeMetrics(metricsWithRecentRun(scene.harness.clock.now() - 3 * 86400));
    scene.build();
    scene.start();
    scene.evaluate(
        {StatusPanelScene::agent(SignalStrength::strong, "Claude Code", "cpu", "esc to interrupt"),
         StatusPanelScene::agent(SignalStrength::presence, textOnly->displayName, "running")},
        FakePowerSources::battery(12));
    ASSERT_EQ(scene.model->published().status(), GuardStatus::batterySafety);
    const QImage image = shoot(scene, "battery-safety");
    expectStatusCircleColour(scene, image, Theme::orange());
    EXPECT_TRUE(scene.shown("staleSleepWarningRow"));
    EXPECT_TRUE(scene.shown("accessibilityWarningRow"));
}

TEST(StatusPanelScreenshots, WindowWithoutSystemTray) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::manualKeepAwake);
    scene.build();
    scene.evaluate({}, FakePowerSources::battery(64));
    TrayIcon tray(*scene.model, scene.harness.clock.function(), false);
    QWidget* window = tray.panelWindow();
    QCoreApplication::processEvents();
    const QImage image = window->grab().toImage();
    QDir().mkpath(screenshotFolder());
    EXPECT_TRUE(image.save(QDir(screenshotFolder()).filePath(QStringLiteral("panel-window.png"))));
    const QWidget* note = window->findChild<QWidget*>(QStringLiteral("panelWindowNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(window->rect().contains(note->geometry())) << "the note is inside the window";
    const QWidget* footer = tray.panel()->findChild<QWidget*>(QStringLiteral("footerBar"));
    EXPECT_LE(footer->mapTo(window, QPoint(0, footer->height())).y(), note->geometry().top())
        << "the whole panel shows above the note";
}

TEST(StatusPanelScreenshots, KeepingAwakeInGerman) {
    // The catalogue built into the program, installed as a German desktop's LANG asks for it;
    // the panel is built after, as in the program.
    const QLocale localeBefore;
    const auto german = [](const char* name) -> std::optional<std::string> {
        return std::string_view(name) == "LANG" ? std::optional<std::string>("de_DE.UTF-8")
                                                : std::nullopt;
    };
    ASSERT_EQ(UserLanguage::install(*QCoreApplication::instance(), german),
              QStringLiteral("de_DE"));
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.storeMetrics(metricsWithRecentRun(scene.harness.clock.now()));
    scene.build();
    const std::vector<ActivitySignal> agents = {
        StatusPanelScene::agent(SignalStrength::strong, "Claude Code", "cpu", "esc to interrupt",
                                2),
        StatusPanelScene::agent(SignalStrength::presence, "Cursor", "running"),
    };
    scene.evaluate(agents);
    scene.harness.clock.advance(12 * 60 + 7);
    scene.evaluate(agents);
    shoot(scene, "keeping-awake-de");
    EXPECT_EQ(scene.text("heroStatusLabel"), "Hält wach");
    EXPECT_EQ(scene.text("heroElapsedLabel"), "· 12 min");
    const auto* settings = scene.find<QAbstractButton>("settingsButton");
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->accessibleName().toStdString(), "Einstellungen");
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    QLocale::setDefault(localeBefore);
}

// The tray's tooltip as the desktop shows it while a timed keep-awake runs: its end on the clock
// and the time left.
TEST(StatusPanelScreenshots, TrayTooltipDuringATimedKeepAwake) {
    StatusPanelScene scene;
    scene.harness.storeMode(AppMode::watchAgentUI);
    scene.build();
    scene.evaluate({});
    scene.model->keepAwakeFor(90 * 60);
    scene.harness.clock.advance(12 * 60);
    scene.evaluate({});
    const QString text = TrayIcon::toolTip(*scene.model, scene.model->currentTime());
    EXPECT_TRUE(text.contains(QStringLiteral("\nUntil ")) &&
                text.endsWith(QStringLiteral(" · 1 h 18 min left, then ") +
                              scene.model->wording().modeName(AppMode::watchAgentUI)))
        << text.toStdString();
    QToolTip::showText(QPoint(400, 300), text);
    QCoreApplication::processEvents();
    QWidget* tip = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->inherits("QTipLabel")) {
            tip = widget;
        }
    }
    ASSERT_NE(tip, nullptr);
    save(tip->grab().toImage(), QStringLiteral("tray-tooltip-timed-keep-awake"));
    QToolTip::hideText();
}
