#include <NodwardenApp/model/MetricsStore.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>

#include <QDateTime>
#include <QSettings>

#include <cmath>
#include <exception>

namespace nodwarden::app::MetricsStore {

namespace {

QDateTime toDateTime(Date date) {
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(unixTimeFromDate(date) * 1000)),
                                          Qt::UTC);
}

Date fromDateTime(const QDateTime& value) {
    return dateFromUnixTime(double(value.toMSecsSinceEpoch()) / 1000);
}

} // namespace

Date loadOrSeedInstallDate(QSettings& defaults, Date now) {
    const QString key = detail::qstring(installDateKey);
    if (const QVariant stored = defaults.value(key); stored.isValid()) {
        if (const QDateTime date = stored.toDateTime(); date.isValid()) {
            return fromDateTime(date);
        }
    }
    // Stored to the millisecond, so the value used now equals the value read at the next start.
    const QDateTime seeded = toDateTime(now);
    defaults.setValue(key, seeded);
    return fromDateTime(seeded);
}

UsageMetrics load(QSettings& defaults, Date now) {
    const Date installDate = loadOrSeedInstallDate(defaults, now);
    if (const auto stored = StoredDocument::read(defaults, detail::qstring(metricsKey))) {
        if (auto metrics = UsageMetrics::fromJSON(
                std::string_view(stored->constData(), std::size_t(stored->size())))) {
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
    StoredDocument::replace(
        defaults, detail::qstring(metricsKey), QByteArray(json.data(), qsizetype(json.size())),
        [](std::string_view text) { return UsageMetrics::fromJSON(text).has_value(); }, logger);
}

} // namespace nodwarden::app::MetricsStore
