#pragma once

#include <NodwardenApp/model/StoredValue.hpp>

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

/// How many earlier set-aside copies of a key are kept beside the newest, each under its name
/// with the UTC time it was set aside appended (".unreadable.20261209T061000Z").
inline constexpr int keptEarlierCopies = 3;

/// Before a new copy of `bytes` is set aside as the file `path`: a different copy there now moves
/// to `path` + "." + its time, and only the newest `keptEarlierCopies` of those stay; every move
/// and removal is logged. False when the copy there could not be moved (it is then not to be
/// overwritten).
bool makeRoomForFile(const QString& path, const QByteArray& bytes, FileLogger& logger);

/// The longest document read. Years of statistics take well under a megabyte; a longer one is
/// none of ours, and left in the store it would be read at every start and written at every save.
inline constexpr qsizetype maxBytes = 4 * 1024 * 1024;

/// The bytes stored under `key`; none when nothing is stored or they are longer than `maxBytes`.
std::optional<QByteArray> read(QSettings& defaults, const QString& key);

/// Moves a document longer than `maxBytes` out of the store, into a file beside the store's own
/// named `key` + ".unreadable", and logs one line to `logger`. When that file cannot be written
/// the document stays, is logged and is still never read.
void setAsideIfOversized(QSettings& defaults, const QString& key, FileLogger& logger);

/// Writes `replacement` under `key`, in the platform's form (`StoredValue::document`). An
/// oversized document there is set aside first (`setAsideIfOversized`; one that cannot be is
/// overwritten). When the value stored there now is present, differs from `replacement` and does
/// not satisfy `decodes`, it is first copied to `key` + ".unreadable" and one line naming the key
/// is logged; in the text form, bytes that are not text go to a file of that name beside the
/// store instead.
void replace(QSettings& defaults, const QString& key, const QByteArray& replacement,
             const std::function<bool(std::string_view)>& decodes, FileLogger& logger,
             StoredValue::Form form = StoredValue::currentForm());

} // namespace StoredDocument
} // namespace nodwarden::app
