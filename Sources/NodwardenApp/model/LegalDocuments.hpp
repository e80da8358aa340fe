#pragma once

#include <QString>
#include <QUrl>

#include <vector>

namespace nodwarden::app {

/// The terms, privacy policy and EULA that ship inside the program, so every link opens
/// without a network.
namespace LegalDocuments {

/// One shipped document: its link text, its file name inside the resource and on disk, and the
/// object name of its link.
struct Document {
    QString text;
    QString fileName;
    QString objectName;
};

/// "EULA", "Privacy Policy" and "Terms", in the order the terms window links them.
const std::vector<Document>& all();

/// The document inside the program's resources ("qrc:/legal/<file>").
QUrl resourceUrl(const Document& document);

/// The document's text as it ships (HTML); empty only if the resource is missing.
QString html(const Document& document);

/// A file on this computer holding the document, for programs outside this one (a browser, a
/// terminal): an installed copy under the data folders when there is one, else a copy written
/// from the resources into the user's cache. Empty when neither exists nor can be written.
QString localFile(const Document& document);

} // namespace LegalDocuments
} // namespace nodwarden::app
