#include "AppSupport/SettingsWindowHarness.hpp"

#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QSlider>

#include <algorithm>
#include <cmath>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::FakePowerSources;
using stayloom::testing::SettingsWindowHarness;

namespace {

QSlider* slider(const SettingsWindowHarness& fixture, const QString& base) {
    return fixture.find<QSlider>(base + QStringLiteral("Slider"));
}

} // namespace

TEST(SettingsWindowPower, CpuThresholdMovesInStepsOfFiveOnOneProfileOnly) {
    struct Case {
        Qt::Key key;
        int presses;
        double expected;
    };
    // The fresh default of 8% sits nearest the 10% step.
    const Case cases[] = {{Qt::Key_Right, 1, 15}, {Qt::Key_Left, 1, 5},     {Qt::Key_Left, 9, 0},
                          {Qt::Key_End, 1, 100},  {Qt::Key_Right, 25, 100}, {Qt::Key_Home, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        SettingsWindowHarness fixture;
        fixture.show();
        fixture.window->selectTab(SettingsTab::power);
        const GuardPowerProfile pluggedBefore = fixture.model->settings().pluggedInProfile;
        fixture.press(slider(fixture, QStringLiteral("batteryCpuThreshold")), c.key, c.presses);
        const GuardSettings stored = SettingsStore::loadSettings(*fixture.harness.reopenDefaults());
        EXPECT_EQ(stored.batteryProfile.cpuThresholdPercent, c.expected);
        EXPECT_EQ(std::fmod(stored.batteryProfile.cpuThresholdPercent, 5.0), 0.0);
        EXPECT_EQ(stored.pluggedInProfile, pluggedBefore);
        EXPECT_EQ(fixture.text(QStringLiteral("batteryCpuThresholdValue")),
                  QString::number(int(c.expected)) + QStringLiteral("%"));
    }
}

TEST(SettingsWindowPower, IdleGraceStaysBetweenTenSecondsAndFifteenMinutes) {
    SettingsWindowHarness fixture;
    fixture.show();
    QSlider* grace = slider(fixture, QStringLiteral("pluggedInIdleGrace"));
    ASSERT_NE(grace, nullptr);
    EXPECT_EQ(fixture.text(QStringLiteral("pluggedInIdleGraceValue")), QStringLiteral("90 sec"));

    fixture.press(grace, Qt::Key_Home);
    fixture.press(grace, Qt::Key_Left, 3);
    EXPECT_EQ(fixture.model->settings().pluggedInProfile.idleGracePeriodSeconds, 10);
    EXPECT_EQ(fixture.text(QStringLiteral("pluggedInIdleGraceValue")), QStringLiteral("10 sec"));

    fixture.press(grace, Qt::Key_Right);
    EXPECT_EQ(fixture.model->settings().pluggedInProfile.idleGracePeriodSeconds, 15);

    fixture.press(grace, Qt::Key_End);
    fixture.press(grace, Qt::Key_Right, 3);
    EXPECT_EQ(fixture.model->settings().pluggedInProfile.idleGracePeriodSeconds, 900);
    EXPECT_EQ(fixture.text(QStringLiteral("pluggedInIdleGraceValue")), QStringLiteral("900 sec"));
    EXPECT_EQ(fixture.model->settings().batteryProfile.idleGracePeriodSeconds, 90);
}

TEST(SettingsWindowPower, WarningNeverFallsBelowTheCutoff) {
    SettingsWindowHarness fixture;
    fixture.show();
    // Cutoff 20 → 100 drags the warning (30) up with it.
    fixture.press(slider(fixture, QStringLiteral("batteryBatteryCutoff")), Qt::Key_End);
    EXPECT_EQ(fixture.model->settings().batteryProfile.batteryCutoffPercent, 100);
    EXPECT_EQ(fixture.model->settings().batteryProfile.warningPercent, 100);
    EXPECT_EQ(fixture.text(QStringLiteral("batteryWarningValue")), QStringLiteral("100%"));

    fixture.press(slider(fixture, QStringLiteral("batteryBatteryCutoff")), Qt::Key_Left, 10);
    fixture.press(slider(fixture, QStringLiteral("batteryWarning")), Qt::Key_Home);
    EXPECT_EQ(fixture.model->settings().batteryProfile.batteryCutoffPercent, 50);
    EXPECT_EQ(fixture.model->settings().batteryProfile.warningPercent, 50);
    EXPECT_EQ(SettingsStore::loadSettings(*fixture.harness.reopenDefaults()).batteryProfile,
              fixture.model->settings().batteryProfile);
}

TEST(SettingsWindowPower, OnlyTheBatteryEditorShowsSafetyAndOnlyThePluggedInOneUnlimited) {
    SettingsWindowHarness fixture;
    EXPECT_NE(fixture.window->findChild<QSlider*>(QStringLiteral("batteryBatteryCutoffSlider")),
              nullptr);
    EXPECT_EQ(fixture.window->findChild<QSlider*>(QStringLiteral("pluggedInBatteryCutoffSlider")),
              nullptr);
    EXPECT_EQ(fixture.window->findChild<QCheckBox*>(QStringLiteral("batteryUnlimitedCheckBox")),
              nullptr);
    auto* unlimited = fixture.find<QCheckBox>(QStringLiteral("pluggedInUnlimitedCheckBox"));
    ASSERT_NE(unlimited, nullptr);
    EXPECT_TRUE(unlimited->isChecked());
    unlimited->click();
    EXPECT_FALSE(fixture.model->settings().pluggedInProfile.allowUnlimitedKeepAwake);
    EXPECT_FALSE(fixture.model->settings().batteryProfile.allowUnlimitedKeepAwake);

    fixture.find<QCheckBox>(QStringLiteral("batterySleepOnlyIfLidClosedCheckBox"))->click();
    EXPECT_FALSE(fixture.model->settings().batteryProfile.sleepOnlyIfLidClosed);
    EXPECT_TRUE(fixture.model->settings().pluggedInProfile.sleepOnlyIfLidClosed);
}

TEST(SettingsWindowPower, CurrentProfileFollowsThePowerSource) {
    SettingsWindowHarness fixture;
    fixture.harness.power.setPower(FakePowerSources::battery(64));
    fixture.harness.tickAndSettle(*fixture.model);
    EXPECT_EQ(fixture.text(QStringLiteral("currentProfileLabel")),
              QStringLiteral("Current profile: On Battery"));
    fixture.harness.power.setPower(FakePowerSources::mains());
    fixture.harness.tickAndSettle(*fixture.model);
    EXPECT_EQ(fixture.text(QStringLiteral("currentProfileLabel")),
              QStringLiteral("Current profile: Plugged In"));
}

TEST(SettingsWindowAgents, CheckBoxesStoreDisabledAgentsSortedWithoutDuplicates) {
    SettingsWindowHarness fixture;
    GuardSettings seeded = fixture.model->settings();
    seeded.disabledAgentIDs = {"zz-retired", "aa-retired"}; // unsorted, as an older build left it
    fixture.model->setSettings(seeded);

    std::vector<AgentProfile> listed;
    for (const AgentProfile& profile : AgentCatalog::builtin()) {
        // An agent whose own program this system cannot run is not offered (ChatGPT on Linux).
        if (!AgentCatalog::isMadeFor(profile, AgentCatalog::currentHostSystem())) {
            EXPECT_EQ(fixture.window->findChild<QCheckBox*>(QStringLiteral("agentCheckBox.") +
                                                            QString::fromStdString(profile.id)),
                      nullptr)
                << profile.id;
            continue;
        }
        listed.push_back(profile);
        auto* box = fixture.find<QCheckBox>(QStringLiteral("agentCheckBox.") +
                                            QString::fromStdString(profile.id));
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isChecked());
        EXPECT_EQ(box->text().toStdString(), profile.displayName);
    }
    ASSERT_GE(listed.size(), 2u);

    const std::string last = listed.back().id;
    const std::string first = listed.front().id;
    fixture.find<QCheckBox>(QStringLiteral("agentCheckBox.") + QString::fromStdString(last))
        ->click();
    fixture.find<QCheckBox>(QStringLiteral("agentCheckBox.") + QString::fromStdString(first))
        ->click();
    std::vector<std::string> expected = {"aa-retired", "zz-retired", first, last};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(fixture.model->settings().disabledAgentIDs, expected);
    EXPECT_EQ(SettingsStore::loadSettings(*fixture.harness.reopenDefaults()).disabledAgentIDs,
              expected);

    auto* lastBox =
        fixture.find<QCheckBox>(QStringLiteral("agentCheckBox.") + QString::fromStdString(last));
    lastBox->click();
    std::erase(expected, last);
    EXPECT_EQ(fixture.model->settings().disabledAgentIDs, expected);
    EXPECT_TRUE(lastBox->isChecked());

    // A list with a duplicate written elsewhere is shown unchecked and cleaned on the next change.
    GuardSettings duplicated = fixture.model->settings();
    duplicated.disabledAgentIDs.push_back(first);
    fixture.model->setSettings(duplicated);
    lastBox->click();
    auto stored = fixture.model->settings().disabledAgentIDs;
    EXPECT_EQ(std::count(stored.begin(), stored.end(), first), 1);
    EXPECT_TRUE(std::is_sorted(stored.begin(), stored.end()));
}

TEST(SettingsWindowAgents, BrowserToggleStoresItsFlag) {
    SettingsWindowHarness fixture;
    auto* toggle = fixture.find<QCheckBox>(QStringLiteral("enableBrowsersCheckBox"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_FALSE(toggle->isChecked());
    toggle->click();
    EXPECT_TRUE(SettingsStore::loadSettings(*fixture.harness.reopenDefaults()).enableBrowsers);
}

TEST(SettingsWindowAgents, CustomAppsAreTrimmedLinesWithoutBlanks) {
    SettingsWindowHarness fixture;
    fixture.show();
    fixture.window->selectTab(SettingsTab::agents);
    auto* field = fixture.find<QPlainTextEdit>(QStringLiteral("customAppsField"));
    ASSERT_NE(field, nullptr);
    field->setFocus();
    fixture.type(QStringLiteral("  Foo  "));
    fixture.press(field, Qt::Key_Return, 2);
    fixture.type(QStringLiteral("Bar"));
    const std::vector<std::string> expected = {"Foo", "Bar"};
    EXPECT_EQ(fixture.model->settings().targetApps, expected);
    EXPECT_EQ(SettingsStore::loadSettings(*fixture.harness.reopenDefaults()).targetApps, expected);
    EXPECT_EQ(field->toPlainText(), QStringLiteral("  Foo  \n\nBar")) << "typing is not undone";

    fixture.press(field, Qt::Key_Return);
    fixture.type(QStringLiteral("   "));
    EXPECT_EQ(fixture.model->settings().targetApps, expected);

    GuardSettings elsewhere = fixture.model->settings();
    elsewhere.targetApps = {"Baz", "Qux"};
    fixture.model->setSettings(elsewhere);
    EXPECT_EQ(field->toPlainText(), QStringLiteral("Baz\nQux"));
}
