#include <NodwardenApp/ui/firstrun/LegalDocumentWindow.hpp>

#include <NodwardenApp/ui/CloseShortcuts.hpp>

#include <QDesktopServices>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace nodwarden::app {

LegalDocumentWindow::LegalDocumentWindow(const QUrl& document, const QString& title,
                                         QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("legalDocumentWindow"));
    browser_->setObjectName(QStringLiteral("legalDocumentText"));
    // Links between the shipped documents stay here; anything else goes to the browser.
    browser_->setOpenLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        const QUrl target = browser_->source().resolved(link);
        if (target.scheme() == QLatin1String("qrc")) {
            browser_->setSource(target);
            setWindowTitle(browser_->documentTitle());
            setAccessibleName(windowTitle());
        } else {
            QDesktopServices::openUrl(target);
        }
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(620, 640);
    addCloseShortcuts(*this);
    showDocument(document, title);
}

void LegalDocumentWindow::showDocument(const QUrl& document, const QString& title) {
    browser_->setSource(document);
    setWindowTitle(title);
    setAccessibleName(title);
    browser_->setAccessibleName(title);
    QWidget::show();
    raise();
    activateWindow();
}

} // namespace nodwarden::app
