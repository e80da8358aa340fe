#include <NodwardenApp/ui/panel/ClickableFrame.hpp>

#include <QKeyEvent>
#include <QMouseEvent>

namespace nodwarden::app {

ClickableFrame::ClickableFrame(QWidget* parent) : QFrame(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void ClickableFrame::mousePressEvent(QMouseEvent* event) {
    // Taking the press makes the release come here too, wherever inside the row it lands.
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QFrame::mousePressEvent(event);
}

void ClickableFrame::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit activated();
        event->accept();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

void ClickableFrame::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space) {
        emit activated();
        event->accept();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace nodwarden::app
