#include <NodwardenApp/model/FileReplacement.hpp>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

#include <unistd.h>

namespace nodwarden::app::FileReplacement {

bool write(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions) {
    QTemporaryFile copy(path + QStringLiteral(".XXXXXX"));
    // On the disk before the rename, so a crash leaves the old file or the whole new one, and a
    // caller that removes the data's earlier home afterwards never loses it.
    if (!QDir().mkpath(QFileInfo(path).path()) || !copy.open() ||
        copy.write(bytes) != bytes.size() || !copy.flush() || !copy.setPermissions(permissions) ||
        ::fsync(copy.handle()) != 0) {
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
