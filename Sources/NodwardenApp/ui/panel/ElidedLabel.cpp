#include <NodwardenApp/ui/panel/ElidedLabel.hpp>

#include <QResizeEvent>

namespace nodwarden::app {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == fullText_ && !text.isEmpty()) {
        return;
    }
    fullText_ = text;
    setToolTip(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    const int available = width() > 0 ? width() : fontMetrics().horizontalAdvance(fullText_);
    setText(fontMetrics().elidedText(fullText_, Qt::ElideRight, available));
}

} // namespace nodwarden::app
