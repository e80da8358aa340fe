#include "AppSupport/SettingsWindowHarness.hpp"

#include <NodwardenApp/ui/settings/TrendChart.hpp>

#include <QImage>
#include <QMessageBox>
#include <QPushButton>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::SettingsWindowHarness;

namespace {

constexpr Date installDate = 770000000; // 2025-05-27

DayBucket bucket(double protectedSeconds, double keptAwakeSeconds, std::int64_t sessions,
                 std::int64_t saved = 0, std::map<std::string, double> byAgent = {}) {
    DayBucket result;
    result.protectedSeconds = protectedSeconds;
    result.keptAwakeSeconds = keptAwakeSeconds;
    result.totalSessions = sessions;
    result.sessionsSaved = saved;
    result.protectedSecondsByAgent = std::move(byAgent);
    return result;
}

bool shown(const SettingsWindowHarness& fixture, const QString& name) {
    auto* widget = fixture.find<QWidget>(name);
    return widget != nullptr && widget->isVisible();
}

} // namespace

TEST(SettingsWindowStats, EmptyStateOnlyForAnAccountWithNothingCounted) {
    const std::string today = UsageMetrics::dayKey(780000000);
    struct Case {
        const char* name;
        std::optional<std::string> metrics;
        bool empty;
    };
    const Case cases[] = {
        {"fresh account", std::nullopt, true},
        {"days without sessions or time",
         SettingsWindowHarness::metricsJSON(installDate, {{today, bucket(0, 0, 0)}}), true},
        {"closed sessions with zero hours",
         SettingsWindowHarness::metricsJSON(installDate, {{today, bucket(0, 0, 2)}}), false},
        {"kept-awake time only",
         SettingsWindowHarness::metricsJSON(installDate, {{today, bucket(0, 1800, 0)}}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsWindowHarness fixture(c.metrics);
        fixture.show();
        fixture.window->selectTab(SettingsTab::stats);
        EXPECT_EQ(shown(fixture, QStringLiteral("statsEmptyBox")), c.empty);
        for (const char* box : {"impactBox", "protectedByAgentBox", "longestRunBox", "trendBox"}) {
            EXPECT_EQ(shown(fixture, QString::fromUtf8(box)), !c.empty) << box;
        }
        EXPECT_TRUE(shown(fixture, QStringLiteral("resetStatsBox")));
    }
}

TEST(SettingsWindowStats, ImpactLinesForZeroAndCountedHours) {
    const std::string today = UsageMetrics::dayKey(780000000);
    {
        SettingsWindowHarness fixture(
            SettingsWindowHarness::metricsJSON(installDate, {{today, bucket(0, 0, 2)}}));
        fixture.show();
        fixture.window->selectTab(SettingsTab::stats);
        EXPECT_EQ(fixture.text(QStringLiteral("impactHeadline")),
                  QStringLiteral("0 min protected · 0 sleeps stopped"));
        EXPECT_EQ(fixture.text(QStringLiteral("keptWorkingLine")),
                  QStringLiteral("Kept awake 0 min for agents (lid open)"));
        EXPECT_FALSE(shown(fixture, QStringLiteral("recoveredLine")));
        EXPECT_EQ(fixture.text(QStringLiteral("installDateLine")),
                  QStringLiteral("Since May 27, 2025"));
    }
    {
        SettingsWindowHarness fixture(
            SettingsWindowHarness::metricsJSON(installDate, {{today, bucket(9000, 3600, 3, 1)}}));
        fixture.show();
        fixture.window->selectTab(SettingsTab::stats);
        EXPECT_EQ(fixture.text(QStringLiteral("impactHeadline")),
                  QStringLiteral("2 h 30 min protected · 1 sleep stopped"));
        EXPECT_EQ(fixture.text(QStringLiteral("keptWorkingLine")),
                  QStringLiteral("Kept awake 1 h for agents (lid open)"));
        EXPECT_TRUE(shown(fixture, QStringLiteral("recoveredLine")));
        EXPECT_EQ(fixture.text(QStringLiteral("recoveredLine")),
                  QStringLiteral("Recovered ≈ 2 h 30 min of work that would otherwise have been "
                                 "interrupted by sleep."));
    }
}

TEST(SettingsWindowStats, LongestRunTexts) {
    const std::string today = UsageMetrics::dayKey(780000000);
    struct Case {
        double seconds;
        std::optional<std::string> agent;
        std::optional<std::string> date;
        const char* line;
    };
    const Case cases[] = {
        {0, std::nullopt, std::nullopt, "No closed-lid run yet."},
        {0, std::string("Codex"), std::string("2026-03-14"), "No closed-lid run yet."},
        {59, std::nullopt, std::nullopt, "Longest protected run: 0m"},
        {3599.9, std::nullopt, std::nullopt, "Longest protected run: 59m"},
        {3600, std::string("Codex"), std::nullopt, "Longest protected run: 1h0m — Codex"},
        {3725, std::string("Claude Code"), std::string("2026-03-14"),
         "Longest protected run: 1h2m — Claude Code"},
        {7500.9, std::string("Claude Code"), std::nullopt,
         "Longest protected run: 2h5m — Claude Code"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        SettingsWindowHarness fixture(SettingsWindowHarness::metricsJSON(
            installDate, {{today, bucket(c.seconds, 0, 1, 1)}}, c.seconds, c.agent, c.date));
        fixture.show();
        fixture.window->selectTab(SettingsTab::stats);
        EXPECT_EQ(fixture.text(QStringLiteral("longestRunLine")), QString::fromUtf8(c.line));
        const bool dateShown = c.seconds > 0 && c.date.has_value();
        EXPECT_EQ(shown(fixture, QStringLiteral("longestRunDate")), dateShown);
        if (dateShown) {
            EXPECT_EQ(fixture.text(QStringLiteral("longestRunDate")).toStdString(), *c.date);
        }
    }
}

TEST(SettingsWindowStats, AgentBarsRunLargestFirstScaledToTheLargest) {
    const std::string today = UsageMetrics::dayKey(780000000);
    const std::string yesterday = UsageMetrics::dayKey(780000000 - 86400);
    SettingsWindowHarness fixture(SettingsWindowHarness::metricsJSON(
        installDate, {{yesterday, bucket(3600, 0, 1, 1, {{"Aider", 1800}, {"Codex", 1800}})},
                      {today, bucket(5400, 0, 2, 2, {{"Claude Code", 5400}, {"Zed", 0}})}}));
    fixture.show();
    fixture.window->selectTab(SettingsTab::stats);
    const auto rows = fixture.window->findChildren<AgentBarRow*>();
    ASSERT_EQ(rows.size(), 4);
    const QStringList names = {QStringLiteral("Claude Code"), QStringLiteral("Aider"),
                               QStringLiteral("Codex"), QStringLiteral("Zed")};
    const double fractions[] = {1.0, 1.0 / 3, 1.0 / 3, 0.0};
    for (int index = 0; index < rows.size(); ++index) {
        EXPECT_EQ(rows[index]->objectName(), QStringLiteral("agentBarRow.") + names[index]);
        EXPECT_DOUBLE_EQ(rows[index]->fraction(), fractions[index]);
    }
    EXPECT_EQ(rows[0]->findChild<QLabel*>(QStringLiteral("agentBarHours"))->text(),
              QStringLiteral("1.5 hrs"));
    EXPECT_EQ(rows[1]->findChild<QLabel*>(QStringLiteral("agentBarHours"))->text(),
              QStringLiteral("0.5 hrs"));
}

TEST(SettingsWindowStats, ResetAsksFirstAndKeepsTheInstallDate) {
    const std::string today = UsageMetrics::dayKey(780000000);
    SettingsWindowHarness fixture(SettingsWindowHarness::metricsJSON(
        installDate, {{today, bucket(7200, 600, 2, 1, {{"Codex", 7200}})}}, 7200,
        std::string("Codex"), today));
    fixture.show();
    fixture.window->selectTab(SettingsTab::stats);
    const QString since = fixture.text(QStringLiteral("installDateLine"));
    const UsageMetrics before = fixture.model->metrics();
    auto* reset = fixture.find<QPushButton>(QStringLiteral("resetStatsButton"));
    ASSERT_NE(reset, nullptr);

    stayloom::testing::click(reset);
    QMessageBox* confirmation = fixture.window->statsTab().resetConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_TRUE(confirmation->isVisible());
    EXPECT_EQ(confirmation->text(), QStringLiteral("Reset all stats?"));
    EXPECT_EQ(confirmation->informativeText(),
              QStringLiteral("This clears every counter. It keeps your install date but cannot "
                             "be undone."));
    stayloom::testing::click(
        confirmation->findChild<QPushButton*>(QStringLiteral("cancelResetStatsButton")));
    EXPECT_EQ(fixture.model->metrics(), before);
    EXPECT_TRUE(shown(fixture, QStringLiteral("impactBox")));

    stayloom::testing::click(reset);
    confirmation = fixture.window->statsTab().resetConfirmation();
    ASSERT_NE(confirmation, nullptr);
    stayloom::testing::click(
        confirmation->findChild<QPushButton*>(QStringLiteral("confirmResetStatsButton")));
    EXPECT_EQ(fixture.model->metrics(), UsageMetrics(installDate));
    EXPECT_TRUE(shown(fixture, QStringLiteral("statsEmptyBox")));
    EXPECT_FALSE(shown(fixture, QStringLiteral("impactBox")));
    EXPECT_EQ(fixture.text(QStringLiteral("installDateLine")), since);

    // The next launch reads the same install date back.
    const auto stored = MetricsStore::load(*fixture.harness.reopenDefaults(), 790000000);
    EXPECT_EQ(stored.installDate(), installDate);
}

TEST(SettingsWindowStats, TrendColumnsScaleToTheBusiestDayWithStubsForEmptyDays) {
    const Date now = 780000000;
    // Today: 1 h protected + 1 h kept awake, the busiest day (scale 2 h): 20-point bars each.
    // Ten days ago: 30 min protected only: 10 points and a 2-point kept-awake stub.
    SettingsWindowHarness fixture(SettingsWindowHarness::metricsJSON(
        installDate, {{UsageMetrics::dayKey(now), bucket(3600, 3600, 1, 1)},
                      {UsageMetrics::dayKey(now - 10 * 86400), bucket(1800, 0, 1, 1)}}));
    fixture.show();
    fixture.window->selectTab(SettingsTab::stats);
    auto* chart = fixture.find<TrendChart>(QStringLiteral("trendChart"));
    ASSERT_NE(chart, nullptr);
    ASSERT_EQ(chart->days().size(), 30u);
    EXPECT_EQ(chart->days().back().dayKey, UsageMetrics::dayKey(now));

    // Drawn on its own at a known width: 30 columns of 10 points.
    TrendChart standalone;
    standalone.setDays(chart->days());
    standalone.resize(30 * 10 + 29 * TrendChart::columnGap, chart->height());
    const QImage image = standalone.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const qreal ratio = image.devicePixelRatio();
    const QColor background = image.pixelColor(image.width() - 1, 0);
    // Painted rows in the middle of column `index`, from the bottom up: green, then amber.
    auto measure = [&](int index) {
        const int x = int((index * (10 + TrendChart::columnGap) + 5) * ratio);
        int green = 0;
        int other = 0;
        for (int y = image.height() - 1; y >= 0; --y) {
            const QColor colour = image.pixelColor(x, y);
            if (colour == background) {
                continue;
            }
            (other == 0 && colour.green() > colour.red() ? green : other) += 1;
        }
        return std::pair{green / ratio, other / ratio};
    };
    EXPECT_EQ(measure(29), (std::pair{20.0, 20.0})) << "today";
    EXPECT_EQ(measure(19), (std::pair{10.0, 2.0})) << "ten days ago";
    EXPECT_EQ(measure(0), (std::pair{2.0, 2.0})) << "a day without time";
}
