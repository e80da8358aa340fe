#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace nodwarden::app {

/// Files the program writes where a link may have been put in their place.
namespace FileReplacement {

/// Writes `bytes` to a new file beside `path` and renames it over `path`: whatever is there, a
/// link included, is replaced itself and never written through (QSaveFile writes into a link's
/// target). Creates the folder. False when any step fails; the old file is then left as it was.
bool write(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions);

} // namespace FileReplacement
} // namespace nodwarden::app
