#include <NodwardenApp/model/StoredDocument.hpp>

#include <NodwardenApp/model/FileReplacement.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <string>

namespace nodwarden::app::StoredDocument {

namespace {

QString unreadableKey(const QString& key) {
    return key + QString::fromUtf8(unreadableSuffix.data(), qsizetype(unreadableSuffix.size()));
}

QString besideTheStore(QSettings& defaults, const QString& name) {
    return QFileInfo(defaults.fileName()).path() + u'/' + name;
}

QString stamp(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

/// The earlier copies' names among `names`, oldest first (their stamps sort by time).
QStringList earlierCopies(const QStringList& names, const QString& name) {
    QStringList earlier;
    for (const QString& candidate : names) {
        if (candidate.startsWith(name + u'.')) {
            earlier.append(candidate);
        }
    }
    earlier.sort();
    return earlier;
}

/// A name for an earlier copy at `time` that sorts after every one of `existing` of that time.
QString freeName(const QString& name, const QDateTime& time, const QStringList& existing) {
    const QString base = name + u'.' + stamp(time);
    int highest = 0;
    for (const QString& other : existing) {
        if (other == base) {
            highest = std::max(highest, 1);
        } else if (other.startsWith(base + u'-')) {
            highest = std::max(highest, other.mid(base.size() + 1).toInt());
        }
    }
    return highest == 0
               ? base
               : base + u'-' + QStringLiteral("%1").arg(highest + 1, 3, 10, QLatin1Char('0'));
}

/// Keeps the copy under `key`, if any and other than `incoming`, under a stamped key, and only
/// the newest `keptEarlierCopies` of those.
void makeRoomForKey(QSettings& defaults, const QString& key, const QVariant& incoming,
                    FileLogger& logger) {
    const QVariant there = defaults.value(key);
    if (!there.isValid() || there == incoming) {
        return;
    }
    const QString earlier = freeName(key, QDateTime::currentDateTimeUtc(), defaults.allKeys());
    defaults.setValue(earlier, there);
    logger.log("Kept the earlier " + key.toStdString() + " as " + earlier.toStdString());
    QStringList copies = earlierCopies(defaults.allKeys(), key);
    while (copies.size() > keptEarlierCopies) {
        defaults.remove(copies.takeFirst());
    }
}

} // namespace

bool makeRoomForFile(const QString& path, const QByteArray& bytes, FileLogger& logger) {
    QFile there(path);
    if (!there.exists()) {
        return true;
    }
    if (there.open(QIODevice::ReadOnly) && there.readAll() == bytes) {
        return true;
    }
    there.close();
    const QFileInfo info(path);
    QStringList existing;
    for (const QString& entry : info.dir().entryList(QDir::Files)) {
        existing.append(info.dir().filePath(entry));
    }
    const QString earlier = freeName(path, info.lastModified(), existing);
    if (!QFile::rename(path, earlier)) {
        logger.log("Could not keep the earlier " + path.toStdString() + " as " +
                   earlier.toStdString());
        return false;
    }
    logger.log("Kept the earlier " + path.toStdString() + " as " + earlier.toStdString());
    QStringList copies = earlierCopies(info.dir().entryList(QDir::Files), info.fileName());
    while (copies.size() > keptEarlierCopies) {
        const QString oldest = info.dir().filePath(copies.takeFirst());
        QFile::remove(oldest);
        logger.log("Removed the oldest kept copy " + oldest.toStdString());
    }
    return true;
}

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
    if (!makeRoomForFile(path, bytes, logger) ||
        !FileReplacement::write(path, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
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
            if (makeRoomForFile(path, *stored, logger) &&
                FileReplacement::write(path, *stored,
                                       QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
                logger.log("Kept the unreadable stored " + key.toStdString() + " as " +
                           path.toStdString() + " before replacing it");
            } else {
                logger.log("Could not keep the unreadable stored " + key.toStdString() + " as " +
                           path.toStdString() + " before replacing it");
            }
        } else {
            const QVariant kept = StoredValue::document(*stored, form);
            makeRoomForKey(defaults, keptKey, kept, logger);
            defaults.setValue(keptKey, kept);
            logger.log("Kept the unreadable stored " + key.toStdString() + " as " +
                       keptKey.toStdString() + " before replacing it");
        }
    }
    defaults.setValue(key, StoredValue::document(replacement, form));
}

} // namespace nodwarden::app::StoredDocument
