#include <NodwardenApp/model/FileReplacement.hpp>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

namespace nodwarden::app::FileReplacement {

bool write(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions) {
    QTemporaryFile copy(path + QStringLiteral(".XXXXXX"));
    if (!QDir().mkpath(QFileInfo(path).path()) || !copy.open() ||
        copy.write(bytes) != bytes.size() || !copy.flush() || !copy.setPermissions(permissions)) {
        return false;
    }
    if (std::rename(QFile::encodeName(copy.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0) {
        return false;
    }
    copy.setAutoRemove(false);
    return true;
}

} // namespace nodwarden::app::FileReplacement
