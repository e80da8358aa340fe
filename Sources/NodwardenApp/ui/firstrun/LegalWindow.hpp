#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

class QCloseEvent;
class QPushButton;

namespace nodwarden::app {

class AppModel;
class LegalDocumentWindow;

/// The terms window: what the program looks at, how to use it safely, the three legal documents,
/// and "Quit" or "I Agree". It has a title bar but no close button, and Return or Enter accepts
/// the terms. The window system cannot close it while the terms still wait for acceptance.
class LegalWindow : public QWidget {
    Q_OBJECT

public:
    /// `websiteBase` is the product web site's base address the document links are formed from;
    /// empty (the default build), the links open the copies shipped inside the program.
    LegalWindow(AppModel& model, const QString& websiteBase, QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void accept();
    /// Opens the shipped copy of the document a link points at.
    void openDocument(const QUrl& resource, const QString& title);

    AppModel& model_;
    QPushButton* agreeButton_ = nullptr;
    bool shippedLinks_ = true;
    QPointer<LegalDocumentWindow> documentWindow_;
};

} // namespace nodwarden::app
