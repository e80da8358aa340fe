#include <NodwardenApp/model/LegalDocuments.hpp>

#include <NodwardenApp/model/FileReplacement.hpp>
#include <NodwardenCore/system/BoundedFileRead.hpp>

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

// Outside any namespace, as the resource's initialiser is declared there.
static void initialiseLegalResource() {
    Q_INIT_RESOURCE(legal);
}

namespace nodwarden::app::LegalDocuments {

namespace {

void ensureResource() {
    static const bool once = (initialiseLegalResource(), true);
    (void)once;
}

QByteArray resourceBytes(const Document& document) {
    ensureResource();
    QFile file(QStringLiteral(":/legal/") + document.fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Whether `path` is a regular file (not a link to one) holding exactly `bytes`.
bool holds(const QString& path, const QByteArray& bytes) {
    const auto stored =
        BoundedFileRead::whole(QFile::encodeName(path).toStdString(), std::size_t(bytes.size()));
    return stored && QByteArray::fromStdString(*stored) == bytes;
}

} // namespace

const std::vector<Document>& all() {
    static const std::vector<Document> documents = {
        {QString::fromLatin1(QT_TRANSLATE_NOOP("FirstRun", "EULA")), QStringLiteral("eula.html"),
         QStringLiteral("eulaLink")},
        {QString::fromLatin1(QT_TRANSLATE_NOOP("FirstRun", "Privacy Policy")),
         QStringLiteral("privacy.html"), QStringLiteral("privacyPolicyLink")},
        {QString::fromLatin1(QT_TRANSLATE_NOOP("FirstRun", "Terms")), QStringLiteral("terms.html"),
         QStringLiteral("termsLink")},
    };
    return documents;
}

QUrl resourceUrl(const Document& document) {
    ensureResource();
    return QUrl(QStringLiteral("qrc:/legal/") + document.fileName);
}

QString html(const Document& document) {
    return QString::fromUtf8(resourceBytes(document));
}

QString localFile(const Document& document) {
    const QString relative = QStringLiteral("stayloom/legal/") + document.fileName;
    QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation, relative);
    if (!installed.isEmpty()) {
        return installed;
    }
    const QByteArray shipped = resourceBytes(document);
    if (shipped.isEmpty()) {
        return {};
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                           QStringLiteral("/stayloom/legal");
    QString path = folder + u'/' + document.fileName;
    // Rewritten only when this build's text differs, so a reader never sees a half-written copy
    // of the same text and an older build's copy is replaced.
    if (holds(path, shipped)) {
        return path;
    }
    // Readable as a document a browser opens, like any other the user saves.
    return FileReplacement::write(path, shipped,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadGroup | QFileDevice::ReadOther)
               ? path
               : QString();
}

} // namespace nodwarden::app::LegalDocuments
