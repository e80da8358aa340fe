#include "AppSupport/SettingsFile.hpp"
#include "NodwardenCoreTests/UsageMetricsTestSupport.hpp"
#include "Support/LoggedMessages.hpp"

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenApp/model/StoredValue.hpp>

#include <QDateTime>
#include <QSettings>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::loggedMessages;
using stayloom::testing::readFile;
using stayloom::testing::SettingsFile;

namespace {

constexpr Date launch = 786000000.25;

/// An account with some counted time and a closed session.
UsageMetrics usedAccount(Date installDate) {
    UsageMetrics metrics(installDate);
    Date now = installDate + 100;
    for (int tick = 0; tick < 5; ++tick) {
        metrics = UsageMetrics::recording(metrics, true, KeepAwakeTrigger::activeSignal,
                                          SignalStrength::strong, LidState::closed,
                                          std::string("Codex"), 90, true, now);
        now += 3;
    }
    return UsageMetrics::recording(metrics, false, KeepAwakeTrigger::none, SignalStrength::none,
                                   LidState::closed, std::nullopt, 90, false, now);
}

} // namespace

TEST(MetricsStore, FirstLaunchSeedsTheInstallDate) {
    SettingsFile file;
    const UsageMetrics loaded = MetricsStore::load(*file.open(), launch);
    EXPECT_EQ(loaded, UsageMetrics(launch));
    EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.metrics.installDate")).toDateTime(),
              QDateTime::fromMSecsSinceEpoch(qint64(unixTimeFromDate(launch) * 1000), Qt::UTC));

    // A later launch keeps the first date.
    EXPECT_EQ(MetricsStore::load(*file.open(), launch + 86400).installDate(), launch);
}

TEST(MetricsStore, SavedAccountsLoadEqual) {
    SettingsFile file;
    const UsageMetrics account = usedAccount(launch);
    ASSERT_GT(account.totalProtectedSeconds(), 0);
    MetricsStore::save(*file.open(), account, file.logger);
    EXPECT_EQ(MetricsStore::load(*file.open(), launch + 5000), account);
}

TEST(MetricsStore, DamagedDocumentsGiveAFreshAccountWithTheStoredInstallDate) {
    const std::vector<QByteArray> damaged = {
        QByteArrayLiteral("{\"days\":{}}"),
        QByteArrayLiteral("{\"installDate\":1,\"days\":{\"2025-01-01\":{\"protectedSeconds\":1}}}"),
        QByteArrayLiteral("\x00\x01 not json"),
    };
    for (const QByteArray& bytes : damaged) {
        SettingsFile file;
        MetricsStore::loadOrSeedInstallDate(*file.open(), launch);
        file.open()->setValue(QStringLiteral("Nodwarden.metrics"), bytes);
        EXPECT_EQ(MetricsStore::load(*file.open(), launch + 999), UsageMetrics(launch));
        EXPECT_TRUE(loggedMessages(file.logger).empty());
    }
}

TEST(MetricsStore, UnreadableDocumentIsKeptAsideBeforeTheFreshAccountReplacesIt) {
    SettingsFile file;
    const QByteArray damaged = QByteArrayLiteral("{\"installDate\": \"yesterday\"}");
    file.open()->setValue(QStringLiteral("Nodwarden.metrics"), damaged);

    const UsageMetrics fresh = MetricsStore::load(*file.open(), launch);
    MetricsStore::save(*file.open(), fresh, file.logger);
    EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.metrics.unreadable")).toByteArray(),
              damaged);
    EXPECT_EQ(MetricsStore::load(*file.open(), launch), fresh);
    EXPECT_EQ(loggedMessages(file.logger),
              std::vector<std::string>{"Kept the unreadable stored Nodwarden.metrics as "
                                       "Nodwarden.metrics.unreadable before replacing it"});

    MetricsStore::save(*file.open(), usedAccount(launch), file.logger);
    EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.metrics.unreadable")).toByteArray(),
              damaged)
        << "a readable document is replaced without touching the kept copy";
    EXPECT_EQ(loggedMessages(file.logger).size(), 1u);
}

TEST(MetricsStore, AnAccountTooLongToBeOursIsMovedOutOfTheStoreAndAFreshOneStarts) {
    const QString key = QStringLiteral("Nodwarden.metrics");
    const QByteArray oversized = QByteArray::fromStdString(
        stayloom::testing::crowdedAccountJSON(std::size_t(StoredDocument::maxBytes)));
    ASSERT_TRUE(UsageMetrics::fromJSON(oversized.toStdString())) << "too long, not damaged";
    const auto setAside = [](const SettingsFile& file) {
        return file.folder.path() / "Nodwarden.metrics.unreadable";
    };

    // At start: moved out before anything reads it.
    SettingsFile file;
    MetricsStore::loadOrSeedInstallDate(*file.open(), launch);
    file.open()->setValue(key, oversized);
    EXPECT_EQ(MetricsStore::load(*file.open(), launch + 999), UsageMetrics(launch));
    StoredDocument::setAsideIfOversized(*file.open(), key, file.logger);
    EXPECT_FALSE(file.open()->contains(key));
    EXPECT_EQ(readFile(setAside(file)), oversized.toStdString());
    EXPECT_LT(std::filesystem::file_size(file.folder.path() / "defaults.ini"), 4096u);
    ASSERT_EQ(loggedMessages(file.logger).size(), 1u);
    EXPECT_EQ(
        loggedMessages(file.logger).front().rfind("Moved the stored Nodwarden.metrics of ", 0), 0u);

    // At a save: moved out, never copied to a key of the store.
    SettingsFile saved;
    saved.open()->setValue(key, oversized);
    MetricsStore::save(*saved.open(), usedAccount(launch), saved.logger);
    EXPECT_FALSE(saved.open()->contains(key + QStringLiteral(".unreadable")));
    EXPECT_EQ(readFile(setAside(saved)), oversized.toStdString());
    EXPECT_EQ(MetricsStore::load(*saved.open(), launch), usedAccount(launch));

    // Another one later: the first copy is kept under its time, not overwritten.
    QByteArray another = oversized;
    another.replace(another.lastIndexOf('}'), 1, " }");
    saved.open()->setValue(key, another);
    StoredDocument::setAsideIfOversized(*saved.open(), key, saved.logger);
    EXPECT_EQ(readFile(setAside(saved)), another.toStdString());
    std::vector<std::filesystem::path> earlier;
    for (const auto& entry : std::filesystem::directory_iterator(saved.folder.path())) {
        if (entry.path().filename().string().rfind("Nodwarden.metrics.unreadable.", 0) == 0) {
            earlier.push_back(entry.path());
        }
    }
    ASSERT_EQ(earlier.size(), 1u);
    EXPECT_EQ(readFile(earlier.front()), oversized.toStdString());
}

namespace {

/// A settings file as an earlier version left it: the statistics, the settings and the dates as
/// Qt's binary blobs.
void storeEarlierForms(const SettingsFile& file, const UsageMetrics& account,
                       const GuardSettings& settings) {
    auto defaults = file.open();
    const std::string metrics = account.toJSON();
    const std::string settingsJSON = settings.toJSON();
    defaults->setValue(QStringLiteral("Nodwarden.metrics"), QByteArray::fromStdString(metrics));
    defaults->setValue(QStringLiteral("Nodwarden.settings"),
                       QByteArray::fromStdString(settingsJSON));
    defaults->setValue(
        QStringLiteral("Nodwarden.metrics.installDate"),
        QDateTime::fromMSecsSinceEpoch(qint64(unixTimeFromDate(launch) * 1000), Qt::UTC));
    defaults->setValue(QStringLiteral("Stayloom.acceptedLegalVersion.date"),
                       QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC));
    defaults->setValue(QStringLiteral("Nodwarden.mode"), QStringLiteral("watchAgentUI"));
}

} // namespace

TEST(MetricsStore, StatisticsMoveOnceFromAnEarlierSettingsFileToTheirOwnFileLosingNothing) {
    SettingsFile file;
    const UsageMetrics account = usedAccount(launch);
    GuardSettings settings{.targetApps = {"house-agent", "Ünïcode — Tool"}};
    storeEarlierForms(file, account, settings);
    const auto ini = file.folder.path() / "defaults.ini";
    ASSERT_NE(readFile(ini).find("@ByteArray("), std::string::npos) << readFile(ini);
    ASSERT_NE(readFile(ini).find("@DateTime("), std::string::npos);

    const auto statistics = file.folder.path() / "state" / "stayloom" / "statistics.json";
    MetricsStore::MetricsFile metricsFile(statistics);
    {
        auto defaults = file.open();
        StoredValue::rewriteBlobsAsText(*defaults, file.logger, StoredValue::Form::text);
        EXPECT_EQ(MetricsStore::load(*defaults, metricsFile, launch + 9999, file.logger), account);
    }
    EXPECT_EQ(UsageMetrics::fromJSON(readFile(statistics)), account);
    EXPECT_EQ(std::filesystem::status(statistics).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::string text = readFile(ini);
    for (const char* blob : {"@ByteArray", "@DateTime", "@Variant"}) {
        EXPECT_EQ(text.find(blob), std::string::npos) << blob << " left in\n" << text;
    }
    EXPECT_FALSE(file.open()->contains(QStringLiteral("Nodwarden.metrics")));
    EXPECT_EQ(SettingsStore::loadSettings(*file.open()), settings);
    EXPECT_EQ(SettingsStore::loadMode(*file.open()), AppMode::watchAgentUI);
    EXPECT_EQ(MetricsStore::loadOrSeedInstallDate(*file.open(), launch + 9999), launch);
    EXPECT_EQ(StoredValue::readDate(
                  file.open()->value(QStringLiteral("Stayloom.acceptedLegalVersion.date"))),
              dateFromUnixTime(1700000000.123));
    EXPECT_EQ(loggedMessages(file.logger),
              std::vector<std::string>{"Moved the statistics from the settings to " +
                                       statistics.string()});

    // A move cut short after the file was written and before the key went: the file is the
    // account, taken once, and the key goes without being added to it.
    file.open()->setValue(QStringLiteral("Nodwarden.metrics"),
                          QString::fromStdString(UsageMetrics(launch).toJSON()));
    EXPECT_EQ(MetricsStore::load(*file.open(), metricsFile, launch + 9999, file.logger), account);
    EXPECT_FALSE(file.open()->contains(QStringLiteral("Nodwarden.metrics")));
    EXPECT_EQ(UsageMetrics::fromJSON(readFile(statistics)), account);

    // Saves the file refused went to the settings after it was written: the settings' later
    // copy is the account, and it replaces the file's.
    UsageMetrics later = account;
    for (const Date tick : {launch + 118, launch + 121}) {
        later = UsageMetrics::recording(later, true, KeepAwakeTrigger::manual, SignalStrength::none,
                                        LidState::open, std::nullopt, 90, std::nullopt, tick);
    }
    file.open()->setValue(QStringLiteral("Nodwarden.metrics"),
                          QString::fromStdString(later.toJSON()));
    EXPECT_EQ(MetricsStore::load(*file.open(), metricsFile, launch + 9999, file.logger), later);
    EXPECT_FALSE(file.open()->contains(QStringLiteral("Nodwarden.metrics")));
    EXPECT_EQ(UsageMetrics::fromJSON(readFile(statistics)), later);
}

TEST(MetricsStore, AStatisticsFileThatCannotBeWrittenKeepsThemInTheSettingsAndIsLoggedOnce) {
    SettingsFile file;
    const UsageMetrics account = usedAccount(launch);
    file.open()->setValue(QStringLiteral("Nodwarden.metrics"),
                          QByteArray::fromStdString(account.toJSON()));
    // A file where the state folder belongs.
    const auto blocker = file.folder.write("state/stayloom", "in the way\n");
    MetricsStore::MetricsFile metricsFile(blocker / "statistics.json");

    EXPECT_EQ(MetricsStore::load(*file.open(), metricsFile, launch + 9999, file.logger), account);
    EXPECT_EQ(
        UsageMetrics::fromJSON(
            file.open()->value(QStringLiteral("Nodwarden.metrics")).toByteArray().toStdString()),
        account)
        << "the key stays when its file could not be written";

    const UsageMetrics later =
        UsageMetrics::recording(account, true, KeepAwakeTrigger::manual, SignalStrength::none,
                                LidState::open, std::nullopt, 90, std::nullopt, launch + 200);
    MetricsStore::save(*file.open(), metricsFile, later, file.logger);
    MetricsStore::save(*file.open(), metricsFile, later, file.logger);
    EXPECT_EQ(MetricsStore::load(*file.open(), launch + 9999), later) << "no count is lost";
    ASSERT_EQ(loggedMessages(file.logger).size(), 1u);
    EXPECT_EQ(loggedMessages(file.logger).front().rfind("Could not write the statistics to ", 0),
              0u);

    // The way clears: the next save writes the file and the key goes.
    std::filesystem::remove(blocker);
    MetricsStore::save(*file.open(), metricsFile, later, file.logger);
    EXPECT_FALSE(file.open()->contains(QStringLiteral("Nodwarden.metrics")));
    EXPECT_EQ(MetricsStore::load(*file.open(), metricsFile, launch + 9999, file.logger), later);
}
