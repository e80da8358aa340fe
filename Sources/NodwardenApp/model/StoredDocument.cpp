#include <NodwardenApp/model/StoredDocument.hpp>

#include <NodwardenCore/FileLogger.hpp>

#include <QSettings>

namespace nodwarden::app::StoredDocument {

std::optional<QByteArray> read(QSettings& defaults, const QString& key) {
    const QVariant value = defaults.value(key);
    if (!value.isValid() || value.isNull()) {
        return std::nullopt;
    }
    return value.toByteArray();
}

void replace(QSettings& defaults, const QString& key, const QByteArray& replacement,
             const std::function<bool(std::string_view)>& decodes, FileLogger& logger) {
    if (const auto stored = read(defaults, key);
        stored && *stored != replacement &&
        !decodes(std::string_view(stored->constData(), stored->size()))) {
        const QString keptKey =
            key + QString::fromUtf8(unreadableSuffix.data(), qsizetype(unreadableSuffix.size()));
        defaults.setValue(keptKey, *stored);
        logger.log("Kept the unreadable stored " + key.toStdString() + " as " +
                   keptKey.toStdString() + " before replacing it");
    }
    defaults.setValue(key, replacement);
}

} // namespace nodwarden::app::StoredDocument
