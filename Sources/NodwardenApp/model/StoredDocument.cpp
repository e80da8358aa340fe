#include <NodwardenApp/model/StoredDocument.hpp>

#include <NodwardenApp/model/FileReplacement.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QFileInfo>
#include <QSettings>

#include <string>

namespace nodwarden::app::StoredDocument {

namespace {

QString unreadableKey(const QString& key) {
    return key + QString::fromUtf8(unreadableSuffix.data(), qsizetype(unreadableSuffix.size()));
}

QString besideTheStore(QSettings& defaults, const QString& name) {
    return QFileInfo(defaults.fileName()).path() + u'/' + name;
}

} // namespace

std::optional<QByteArray> read(QSettings& defaults, const QString& key) {
    const QVariant value = defaults.value(key);
    if (!value.isValid() || value.isNull()) {
        return std::nullopt;
    }
    QByteArray bytes = value.toByteArray();
    if (bytes.size() > maxBytes) {
        return std::nullopt;
    }
    return bytes;
}

void setAsideIfOversized(QSettings& defaults, const QString& key, FileLogger& logger) {
    const QByteArray bytes = defaults.value(key).toByteArray();
    const qsizetype size = bytes.size();
    if (size <= maxBytes) {
        return;
    }
    // Beside the store rather than under a key of its own, which would keep every save as slow.
    const QString path = besideTheStore(defaults, unreadableKey(key));
    if (!FileReplacement::write(path, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        logger.log("Ignoring the stored " + key.toStdString() + " of " + std::to_string(size) +
                   " bytes; it could not be moved out to " + path.toStdString());
        return;
    }
    defaults.remove(key);
    logger.log("Moved the stored " + key.toStdString() + " of " + std::to_string(size) +
               " bytes out of the settings to " + path.toStdString());
}

void replace(QSettings& defaults, const QString& key, const QByteArray& replacement,
             const std::function<bool(std::string_view)>& decodes, FileLogger& logger,
             StoredValue::Form form) {
    setAsideIfOversized(defaults, key, logger);
    if (const auto stored = read(defaults, key);
        stored && *stored != replacement &&
        !decodes(std::string_view(stored->constData(), stored->size()))) {
        const QString keptKey = unreadableKey(key);
        if (form == StoredValue::Form::text && !StoredValue::isText(*stored)) {
            const QString path = besideTheStore(defaults, keptKey);
            if (FileReplacement::write(path, *stored,
                                       QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
                logger.log("Kept the unreadable stored " + key.toStdString() + " as " +
                           path.toStdString() + " before replacing it");
            } else {
                logger.log("Could not keep the unreadable stored " + key.toStdString() + " as " +
                           path.toStdString() + " before replacing it");
            }
        } else {
            defaults.setValue(keptKey, StoredValue::document(*stored, form));
            logger.log("Kept the unreadable stored " + key.toStdString() + " as " +
                       keptKey.toStdString() + " before replacing it");
        }
    }
    defaults.setValue(key, StoredValue::document(replacement, form));
}

} // namespace nodwarden::app::StoredDocument
