#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <string_view>

class QSettings;

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

/// Stored JSON documents that a later version or a damaged disk may have left unreadable. Before
/// one is replaced, its bytes are kept under the same key with ".unreadable" appended, so a
/// decoding fault never destroys the user's data.
namespace StoredDocument {

/// The suffix of the key that keeps an unreadable document's bytes.
inline constexpr std::string_view unreadableSuffix = ".unreadable";

/// The bytes stored under `key`; none when nothing is stored.
std::optional<QByteArray> read(QSettings& defaults, const QString& key);

/// Writes `replacement` under `key`. When the value stored there now is present, differs from
/// `replacement` and does not satisfy `decodes`, it is first copied to `key` + ".unreadable"
/// and one line naming the key is logged.
void replace(QSettings& defaults, const QString& key, const QByteArray& replacement,
             const std::function<bool(std::string_view)>& decodes, FileLogger& logger);

} // namespace StoredDocument
} // namespace nodwarden::app
