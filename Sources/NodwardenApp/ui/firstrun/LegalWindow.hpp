#pragma once

#include <QString>
#include <QWidget>

class QCloseEvent;
class QPushButton;

namespace nodwarden::app {

class AppModel;

/// The terms window: what the program looks at, how to use it safely, the three legal documents,
/// and "Quit" or "I Agree". It has a title bar but no close button, and Return or Enter accepts
/// the terms. The window system cannot close it while the terms still wait for acceptance.
class LegalWindow : public QWidget {
    Q_OBJECT

public:
    /// `websiteBase` is the product web site's base address the document links are formed from.
    LegalWindow(AppModel& model, const QString& websiteBase, QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void accept();

    AppModel& model_;
    QPushButton* agreeButton_ = nullptr;
};

} // namespace nodwarden::app
