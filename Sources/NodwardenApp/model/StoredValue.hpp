#pragma once

#include <NodwardenCore/model/Date.hpp>

#include <QByteArray>
#include <QVariant>

#include <optional>

class QSettings;

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

/// The form values take in the user-defaults store. macOS's store keeps data and dates as such;
/// elsewhere the store is an INI file that people read and edit, where Qt would write those as
/// binary "@ByteArray(…)" and "@DateTime(…)" blobs: there documents are stored as their JSON text
/// and dates as ISO 8601 text. Reading accepts either form.
namespace StoredValue {

enum class Form {
    typed, ///< data and dates as the store's own types (macOS)
    text,  ///< nothing but text a person can read (the INI file elsewhere)
};

/// The form of the platform this program was built for.
Form currentForm();

/// Whether `bytes` are valid UTF-8, so that the text form keeps them exactly.
bool isText(const QByteArray& bytes);

/// A JSON document (UTF-8) as it is stored.
QVariant document(const QByteArray& json, Form form = currentForm());

/// A date as it is stored: to the millisecond, in UTC.
QVariant date(Date date, Form form = currentForm());
/// A date stored in either form; none when the value is neither.
std::optional<Date> readDate(const QVariant& value);

/// Rewrites once whatever an earlier version stored as a blob in the text form: valid UTF-8 data
/// as its text, dates as ISO 8601 text, and anything else (bytes that are not text, other types)
/// into a file of its own beside the store, named by its key + ".unreadable", and logged. A blob
/// whose file cannot be written stays, and is logged. Nothing happens in the typed form.
void rewriteBlobsAsText(QSettings& defaults, FileLogger& logger, Form form = currentForm());

} // namespace StoredValue
} // namespace nodwarden::app
