#include "AppSupport/SettingsFile.hpp"
#include "Support/LoggedMessages.hpp"

#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::loggedMessages;
using stayloom::testing::SettingsFile;

TEST(SettingsStore, NothingStoredGivesModeOffAndTheDefaults) {
    SettingsFile file;
    auto defaults = file.open();
    EXPECT_EQ(SettingsStore::loadMode(*defaults), AppMode::off);
    EXPECT_EQ(SettingsStore::loadSettings(*defaults), GuardSettings::defaults());
}

TEST(SettingsStore, SettingsTooLongToBeOursAreNotReadAndTheDefaultsApply) {
    SettingsFile file;
    GuardSettings crowded = GuardSettings::defaults();
    for (int index = 0; index < 400000; ++index) {
        crowded.targetApps.push_back("app " + std::to_string(index));
    }
    const std::string json = crowded.toJSON();
    ASSERT_GT(qsizetype(json.size()), StoredDocument::maxBytes);
    ASSERT_TRUE(GuardSettings::fromJSON(json)) << "too long, not damaged";
    file.store("Nodwarden.settings", QByteArray::fromStdString(json));
    EXPECT_EQ(SettingsStore::loadSettings(*file.open()), GuardSettings::defaults());
}

TEST(SettingsStore, ModeRoundTripsAndOnlyRawValuesAreUnderstood) {
    for (const AppMode mode : appModeAllCases()) {
        SettingsFile file;
        SettingsStore::saveMode(*file.open(), mode);
        EXPECT_EQ(SettingsStore::loadMode(*file.open()), mode);
        EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.mode")).toString().toStdString(),
                  rawValue(mode));
    }
    const std::vector<std::pair<QString, AppMode>> stored = {
        {QStringLiteral("watchAgentUI"), AppMode::watchAgentUI},
        {QStringLiteral("Watch Agent UI"), AppMode::off},
        {QStringLiteral(""), AppMode::off},
    };
    for (const auto& [text, expected] : stored) {
        SettingsFile file;
        file.store("Nodwarden.mode", text);
        EXPECT_EQ(SettingsStore::loadMode(*file.open()), expected) << text.toStdString();
    }
}

TEST(SettingsStore, SettingsRoundTripThroughTheFile) {
    SettingsFile file;
    GuardSettings settings{.targetApps = {"house-agent", "Ünïcode Tool"},
                           .disabledAgentIDs = {"codex", "cursor"},
                           .keepAwakeWithLidClosed = true,
                           .letDisplaySleep = true};
    settings.pluggedInProfile.idleGracePeriodSeconds = 240;
    settings.batteryProfile.batteryCutoffPercent = 15;

    SettingsStore::saveSettings(*file.open(), settings, file.logger);
    EXPECT_EQ(SettingsStore::loadSettings(*file.open()), settings);
}

TEST(SettingsStore, UnreadableStoredSettingsLoadAsDefaultsAndStayUntouched) {
    const std::vector<QByteArray> unreadable = {QByteArrayLiteral("not json"),
                                                QByteArrayLiteral("{\"letDisplaySleep\":\"yes\"}")};
    for (const QByteArray& bytes : unreadable) {
        SettingsFile file;
        file.store("Nodwarden.settings", bytes);
        EXPECT_EQ(SettingsStore::loadSettings(*file.open()), GuardSettings::defaults());
        EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.settings")).toByteArray(), bytes);
        EXPECT_TRUE(loggedMessages(file.logger).empty()) << "loading is silent";
    }
    SettingsFile empty;
    empty.store("Nodwarden.settings", QByteArrayLiteral("{}"));
    EXPECT_EQ(SettingsStore::loadSettings(*empty.open()), GuardSettings::defaults());
}

TEST(SettingsStore, UnreadableSettingsAreKeptAsideBeforeTheFirstSave) {
    SettingsFile file;
    const QByteArray damaged = QByteArrayLiteral("{\"batteryProfile\": [");
    file.store("Nodwarden.settings", damaged);

    GuardSettings settings{.enableBrowsers = true};
    SettingsStore::saveSettings(*file.open(), settings, file.logger);
    EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.settings.unreadable")).toByteArray(),
              damaged);
    EXPECT_EQ(SettingsStore::loadSettings(*file.open()), settings);
    EXPECT_EQ(loggedMessages(file.logger),
              std::vector<std::string>{"Kept the unreadable stored Nodwarden.settings as "
                                       "Nodwarden.settings.unreadable before replacing it"});

    // Later saves replace readable settings without touching the kept copy again.
    settings.enableBrowsers = false;
    SettingsStore::saveSettings(*file.open(), settings, file.logger);
    EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.settings.unreadable")).toByteArray(),
              damaged);
    EXPECT_EQ(loggedMessages(file.logger).size(), 1u);

    // Each later damage is set aside too, the one before it kept under its time: never
    // overwritten, the newest few kept.
    std::vector<QByteArray> damages{damaged};
    for (int round = 1; round <= 5; ++round) {
        damages.push_back("{\"round\": " + QByteArray::number(round));
        file.store("Nodwarden.settings", damages.back());
        SettingsStore::saveSettings(*file.open(), settings, file.logger);
    }
    const auto reopened = file.open();
    EXPECT_EQ(reopened->value(QStringLiteral("Nodwarden.settings.unreadable")).toByteArray(),
              damages.back());
    QStringList earlier;
    for (const QString& key : reopened->allKeys()) {
        if (key.startsWith(QStringLiteral("Nodwarden.settings.unreadable."))) {
            earlier.append(key);
        }
    }
    earlier.sort();
    ASSERT_EQ(earlier.size(), StoredDocument::keptEarlierCopies)
        << earlier.join(u' ').toStdString();
    for (int index = 0; index < earlier.size(); ++index) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("\\.unreadable\\.\\d{8}T\\d{6}Z(-\\d{3})?$"))
                        .match(earlier[index])
                        .hasMatch())
            << earlier[index].toStdString();
        EXPECT_EQ(reopened->value(earlier[index]).toByteArray(),
                  damages[damages.size() - 1 - std::size_t(earlier.size()) + std::size_t(index)]);
    }
    EXPECT_EQ(SettingsStore::loadSettings(*reopened), settings);
}

TEST(SettingsStore, SettingsThatCannotBeEncodedLeaveTheStoredOnesInPlace) {
    SettingsFile file;
    const GuardSettings stored = GuardSettings::defaults();
    SettingsStore::saveSettings(*file.open(), stored, file.logger);

    GuardSettings invalid = stored;
    invalid.targetApps = {std::string("bad \xff byte")};
    SettingsStore::saveSettings(*file.open(), invalid, file.logger);
    EXPECT_EQ(SettingsStore::loadSettings(*file.open()), stored);
}
