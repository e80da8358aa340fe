#include <NodwardenApp/model/StoredValue.hpp>

#include <NodwardenApp/model/FileReplacement.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/PlatformPaths.hpp>

#include <QDateTime>
#include <QFileInfo>
#include <QSettings>

#include <cmath>

namespace nodwarden::app::StoredValue {

namespace {

QDateTime toDateTime(Date date) {
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(unixTimeFromDate(date) * 1000)),
                                          Qt::UTC);
}

} // namespace

bool isText(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

Form currentForm() {
    return PlatformPaths::currentStyle() == PlatformPaths::PathStyle::macOS ? Form::typed
                                                                            : Form::text;
}

QVariant document(const QByteArray& json, Form form) {
    if (form == Form::typed) {
        return json;
    }
    return QString::fromUtf8(json);
}

QVariant date(Date date, Form form) {
    const QDateTime value = toDateTime(date);
    if (form == Form::typed) {
        return value;
    }
    return value.toString(Qt::ISODateWithMs);
}

std::optional<Date> readDate(const QVariant& value) {
    QDateTime stored;
    if (value.typeId() == QMetaType::QDateTime) {
        stored = value.toDateTime();
    } else if (value.typeId() == QMetaType::QString) {
        stored = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    }
    if (!stored.isValid()) {
        return std::nullopt;
    }
    return dateFromUnixTime(double(stored.toMSecsSinceEpoch()) / 1000);
}

void rewriteBlobsAsText(QSettings& defaults, FileLogger& logger, Form form) {
    if (form == Form::typed) {
        return;
    }
    for (const QString& key : defaults.allKeys()) {
        const QVariant value = defaults.value(key);
        switch (value.typeId()) {
        case QMetaType::QString:
        case QMetaType::QStringList:
            // Plain INI values (numbers and flags read back as text too).
            continue;
        case QMetaType::QDateTime:
            if (const auto stored = readDate(value)) {
                defaults.setValue(key, date(*stored, form));
                continue;
            }
            break;
        case QMetaType::QByteArray:
            if (isText(value.toByteArray())) {
                defaults.setValue(key, QString::fromUtf8(value.toByteArray()));
                continue;
            }
            break;
        default:
            break;
        }
        // Nothing a person could read: kept whole beside the store, out of the way.
        const QString path = QFileInfo(defaults.fileName()).path() + u'/' + key + u".unreadable";
        const QByteArray bytes = value.toByteArray();
        if (bytes.isEmpty() || !StoredDocument::makeRoomForFile(path, bytes, logger) ||
            !FileReplacement::write(path, bytes,
                                    QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            logger.log("Could not move the stored " + key.toStdString() +
                       " out of the settings to " + path.toStdString());
            continue;
        }
        defaults.remove(key);
        logger.log("Moved the stored " + key.toStdString() + " out of the settings to " +
                   path.toStdString());
    }
}

} // namespace nodwarden::app::StoredValue
