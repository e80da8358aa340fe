#include <NodwardenApp/ui/firstrun/LinkLabel.hpp>

#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QDesktopServices>
#include <QKeyEvent>
#include <QPainter>
#include <QUrl>

namespace nodwarden::app {

namespace {

bool isActivationKey(const QKeyEvent& event) {
    return event.modifiers() == Qt::NoModifier || event.modifiers() == Qt::KeypadModifier
               ? event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter ||
                     event.key() == Qt::Key_Space
               : false;
}

} // namespace

LinkLabel::LinkLabel(const QString& text, const QString& address, QWidget* parent)
    : QLabel(parent), address_(address) {
    setTextFormat(Qt::RichText);
    setText(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(address.toHtmlEscaped(), text.toHtmlEscaped()));
    setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    setFocusPolicy(Qt::StrongFocus);
    // Room for the focus ring around the text.
    setContentsMargins(3, 2, 3, 2);
}

void LinkLabel::activate() {
    if (openExternalLinks()) {
        QDesktopServices::openUrl(QUrl(address_));
    } else {
        emit linkActivated(address_);
    }
}

bool LinkLabel::event(QEvent* event) {
    // The window binds Return to its default action; a focused link keeps the key for itself.
    if (event->type() == QEvent::ShortcutOverride &&
        isActivationKey(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QLabel::event(event);
}

void LinkLabel::keyPressEvent(QKeyEvent* event) {
    if (isActivationKey(*event)) {
        activate();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void LinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The link's own colour, made to read on this window, is well above 3:1 against it.
    painter.setPen(QPen(Theme::textTone(palette().color(QPalette::Link), palette()), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
}

} // namespace nodwarden::app
