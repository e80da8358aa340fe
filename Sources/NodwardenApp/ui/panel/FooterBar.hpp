#pragma once

#include <QWidget>

class QToolButton;

namespace nodwarden::app {

class AppModel;

/// Settings, Restore and Quit, each a small symbol over a caption.
class FooterBar : public QWidget {
    Q_OBJECT
public:
    explicit FooterBar(AppModel& model, QWidget* parent = nullptr);

private:
    QToolButton* addButton(const QString& caption, const QString& symbol,
                           const QString& objectName);

    AppModel& model_;
};

} // namespace nodwarden::app
