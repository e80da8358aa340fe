#pragma once

#include <QUrl>
#include <QWidget>

class QTextBrowser;

namespace nodwarden::app {

/// One shipped legal document (terms, privacy policy or EULA) read inside the program; its links
/// to the other two stay inside the same window.
class LegalDocumentWindow : public QWidget {
    Q_OBJECT

public:
    /// `document` is the copy inside the program's resources; `title` names the window.
    LegalDocumentWindow(const QUrl& document, const QString& title, QWidget* parent = nullptr);

    /// Shows `document` instead of the current one.
    void showDocument(const QUrl& document, const QString& title);

    QTextBrowser& browser() const { return *browser_; }

private:
    QTextBrowser* browser_;
};

} // namespace nodwarden::app
