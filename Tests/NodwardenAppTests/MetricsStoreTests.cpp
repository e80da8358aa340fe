#include "NodwardenCoreTests/UsageMetricsTestSupport.hpp"
#include "Support/LoggedMessages.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <NodwardenApp/model/MetricsStore.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenCore/FileLogger.hpp>

#include <QDateTime>
#include <QSettings>

#include <gtest/gtest.h>

#include <memory>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::loggedMessages;
using stayloom::testing::readFile;
using stayloom::testing::TemporaryDirectory;

namespace {

class DefaultsFile {
public:
    DefaultsFile() : logger(folder.path() / "Nodwarden.log") {}

    std::unique_ptr<QSettings> open() const {
        return std::make_unique<QSettings>(
            QString::fromStdString((folder.path() / "defaults.ini").string()),
            QSettings::IniFormat);
    }

    TemporaryDirectory folder;
    FileLogger logger;
};

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
    DefaultsFile file;
    const UsageMetrics loaded = MetricsStore::load(*file.open(), launch);
    EXPECT_EQ(loaded, UsageMetrics(launch));
    EXPECT_EQ(file.open()->value(QStringLiteral("Nodwarden.metrics.installDate")).toDateTime(),
              QDateTime::fromMSecsSinceEpoch(qint64(unixTimeFromDate(launch) * 1000), Qt::UTC));

    // A later launch keeps the first date.
    EXPECT_EQ(MetricsStore::load(*file.open(), launch + 86400).installDate(), launch);
}

TEST(MetricsStore, SavedAccountsLoadEqual) {
    DefaultsFile file;
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
        DefaultsFile file;
        MetricsStore::loadOrSeedInstallDate(*file.open(), launch);
        file.open()->setValue(QStringLiteral("Nodwarden.metrics"), bytes);
        EXPECT_EQ(MetricsStore::load(*file.open(), launch + 999), UsageMetrics(launch));
        EXPECT_TRUE(loggedMessages(file.logger).empty());
    }
}

TEST(MetricsStore, UnreadableDocumentIsKeptAsideBeforeTheFreshAccountReplacesIt) {
    DefaultsFile file;
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
    const auto setAside = [](const DefaultsFile& file) {
        return file.folder.path() / "Nodwarden.metrics.unreadable";
    };

    // At start: moved out before anything reads it.
    DefaultsFile file;
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
    DefaultsFile saved;
    saved.open()->setValue(key, oversized);
    MetricsStore::save(*saved.open(), usedAccount(launch), saved.logger);
    EXPECT_FALSE(saved.open()->contains(key + QStringLiteral(".unreadable")));
    EXPECT_EQ(readFile(setAside(saved)), oversized.toStdString());
    EXPECT_EQ(MetricsStore::load(*saved.open(), launch), usedAccount(launch));
}
