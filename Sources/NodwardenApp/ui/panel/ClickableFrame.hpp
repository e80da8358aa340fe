#pragma once

#include <QFrame>

namespace nodwarden::app {

/// A frame that runs `activated` when clicked or when Return/Space is pressed while focused:
/// the clickable rows of the panel.
class ClickableFrame : public QFrame {
    Q_OBJECT
public:
    explicit ClickableFrame(QWidget* parent = nullptr);

signals:
    void activated();

protected:
    void mousePressEvent(class QMouseEvent* event) override;
    void mouseReleaseEvent(class QMouseEvent* event) override;
    void keyPressEvent(class QKeyEvent* event) override;
};

} // namespace nodwarden::app
