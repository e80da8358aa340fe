#include <NodwardenApp/model/MetricsStore.hpp>

#include <NodwardenApp/model/FileReplacement.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenApp/model/StoredValue.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>
#include <NodwardenCore/system/BoundedFileRead.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QSettings>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <exception>
#include <system_error>

#include <sys/stat.h>

namespace nodwarden::app::MetricsStore {

namespace {

bool decodes(std::string_view text) {
    return UsageMetrics::fromJSON(text).has_value();
}

std::string_view textOf(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

/// What the statistics file holds: nothing (missing, or not a regular file), or its bytes, cut
/// at the longest document read.
struct FileContents {
    bool present = false;
    bool complete = false;
    std::string bytes;
};

FileContents readFile(const std::filesystem::path& path) {
    const auto text = BoundedFileRead::head(path, std::size_t(StoredDocument::maxBytes));
    if (!text) {
        return {};
    }
    return {true, !text->truncated, text->bytes};
}

std::optional<UsageMetrics> decoded(const FileContents& contents) {
    if (!contents.present || !contents.complete) {
        return std::nullopt;
    }
    return UsageMetrics::fromJSON(contents.bytes);
}

/// How much an account has counted. Every counter only grows and days are never dropped, so of
/// two copies of one account the later one has counted at least as much.
double countedSeconds(const UsageMetrics& metrics) {
    double total = 0;
    for (const auto& [day, bucket] : metrics.days()) {
        total += bucket.protectedSeconds + bucket.keptAwakeSeconds + bucket.manualSeconds +
                 bucket.pluggedInUnlimitedSeconds;
    }
    return total;
}

/// A file that does not decode is none of this version's, or damaged: kept, never overwritten.
void setAside(const std::filesystem::path& path, FileLogger& logger) {
    const std::filesystem::path kept =
        path.string() + std::string(StoredDocument::unreadableSuffix);
    std::error_code error;
    std::filesystem::rename(path, kept, error);
    if (error) {
        logger.log("Could not keep the unreadable statistics " + path.string() + " as " +
                   kept.string() + ": " + error.message());
        return;
    }
    logger.log("Kept the unreadable statistics " + path.string() + " as " + kept.string());
}

} // namespace

bool MetricsFile::write(std::string_view json, FileLogger& logger) {
    const QByteArray bytes(json.data(), qsizetype(json.size()));
    std::error_code error;
    std::filesystem::create_directories(path_.parent_path().parent_path(), error);
    // A state folder is its owner's alone; one that exists is left as it is.
    const bool folderReady = ::mkdir(path_.parent_path().c_str(), 0700) == 0 || errno == EEXIST;
    const bool written = folderReady &&
                         FileReplacement::write(QString::fromStdString(path_.string()), bytes,
                                                QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                         BoundedFileRead::whole(path_, json.size()) == std::string(json);
    if (!written && !failing_) {
        logger.log("Could not write the statistics to " + path_.string() +
                   "; they are kept in the settings until it can be written");
    }
    failing_ = !written;
    return written;
}

Date loadOrSeedInstallDate(QSettings& defaults, Date now) {
    const QString key = detail::qstring(StoredKeys::metricsInstallDate);
    const QVariant stored = defaults.value(key);
    if (const auto date = StoredValue::readDate(stored)) {
        // A date an earlier version stored as a blob is rewritten in the platform's form.
        if (stored.typeId() != StoredValue::date(*date).typeId()) {
            defaults.setValue(key, StoredValue::date(*date));
        }
        return *date;
    }
    // Stored to the millisecond, so the value used now equals the value read at the next start.
    const QVariant seeded = StoredValue::date(now);
    defaults.setValue(key, seeded);
    return *StoredValue::readDate(seeded);
}

UsageMetrics load(QSettings& defaults, Date now) {
    const Date installDate = loadOrSeedInstallDate(defaults, now);
    if (const auto stored = StoredDocument::read(defaults, detail::qstring(StoredKeys::metrics))) {
        if (auto metrics = UsageMetrics::fromJSON(textOf(*stored))) {
            return *std::move(metrics);
        }
    }
    return UsageMetrics(installDate);
}

void save(QSettings& defaults, const UsageMetrics& metrics, FileLogger& logger) {
    std::string json;
    try {
        json = metrics.toJSON();
    } catch (const std::exception&) {
        // An agent name that is not valid UTF-8 cannot be encoded; the stored account stays.
        return;
    }
    StoredDocument::replace(defaults, detail::qstring(StoredKeys::metrics),
                            QByteArray(json.data(), qsizetype(json.size())), decodes, logger);
}

UsageMetrics load(QSettings& defaults, MetricsFile& file, Date now, FileLogger& logger) {
    const Date installDate = loadOrSeedInstallDate(defaults, now);
    const QString key = detail::qstring(StoredKeys::metrics);
    FileContents contents = readFile(file.path());
    if (defaults.contains(key)) {
        const auto stored = StoredDocument::read(defaults, key);
        const auto storedMetrics =
            stored ? UsageMetrics::fromJSON(textOf(*stored)) : std::optional<UsageMetrics>();
        if (auto metrics = decoded(contents)) {
            // Either the move was cut short after the file was written, or a save the file
            // refused went to the settings after it: the copy that counted more is the account.
            if (!storedMetrics || countedSeconds(*metrics) >= countedSeconds(*storedMetrics)) {
                defaults.remove(key);
                return *std::move(metrics);
            }
            contents = {};
        }
        if (stored) {
            if (contents.present) {
                setAside(file.path(), logger);
            }
            if (!file.write(textOf(*stored), logger)) {
                return UsageMetrics::fromJSON(textOf(*stored)).value_or(UsageMetrics(installDate));
            }
            defaults.remove(key);
            defaults.sync();
            logger.log("Moved the statistics from the settings to " + file.path().string());
            contents = readFile(file.path());
        }
    }
    if (auto metrics = decoded(contents)) {
        return *std::move(metrics);
    }
    if (contents.present) {
        setAside(file.path(), logger);
    }
    return UsageMetrics(installDate);
}

std::optional<EncodedMetrics> encode(const UsageMetrics& metrics) {
    try {
        std::string json = metrics.toJSON();
        // The file is for people too: indented, one field a line.
        std::string readable = nlohmann::json::parse(json).dump(2) + '\n';
        return EncodedMetrics{std::move(json), std::move(readable)};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool write(MetricsFile& file, const EncodedMetrics& encoded, FileLogger& logger) {
    return file.write(encoded.readable, logger);
}

void settle(QSettings& defaults, const EncodedMetrics& encoded, bool written, FileLogger& logger) {
    const QString key = detail::qstring(StoredKeys::metrics);
    if (written) {
        if (defaults.contains(key)) {
            defaults.remove(key);
        }
        return;
    }
    // Counted time is never dropped for a disk that refuses: the defaults hold it meanwhile.
    StoredDocument::replace(defaults, key,
                            QByteArray(encoded.json.data(), qsizetype(encoded.json.size())),
                            decodes, logger);
}

void save(QSettings& defaults, MetricsFile& file, const UsageMetrics& metrics, FileLogger& logger) {
    if (const auto encoded = encode(metrics)) {
        settle(defaults, *encoded, write(file, *encoded, logger), logger);
    }
}

} // namespace nodwarden::app::MetricsStore
