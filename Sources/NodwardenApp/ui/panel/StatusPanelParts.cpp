#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>

#include <chrono>

namespace nodwarden::app {

Date systemDate() {
    using namespace std::chrono;
    return dateFromUnixTime(duration<double>(system_clock::now().time_since_epoch()).count());
}

QString panelText(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

SymbolLabel::SymbolLabel(const QString& symbolName, int size, const QColor& color, QWidget* parent)
    : QLabel(parent), size_(size) {
    setFixedSize(size, size);
    setAlignment(Qt::AlignCenter);
    setSymbol(symbolName, color);
}

void SymbolLabel::setSymbol(const QString& symbolName, const QColor& color) {
    if (symbolName == symbolName_ && color == color_ && !pixmap().isNull()) {
        return;
    }
    symbolName_ = symbolName;
    color_ = color;
    setPixmap(symbolIcon(symbolName, color).pixmap(QSize(size_, size_)));
}

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

QLabel* makeSecondaryLabel(const QString& text, QWidget* parent, int pointSizeDelta) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    if (pointSizeDelta != 0 && font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() + pointSizeDelta);
    }
    label->setFont(font);
    setTextColor(*label, Theme::secondaryText(label->palette()));
    return label;
}

void setTextColor(QLabel& label, const QColor& color) {
    QPalette palette = label.palette();
    if (palette.color(QPalette::WindowText) == color) {
        return;
    }
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label.setPalette(palette);
}

QFrame* makeDivider(QWidget* parent, bool faint) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(faint ? 0.08f : 0.16f);
    palette.setColor(QPalette::Window, color);
    line->setPalette(palette);
    return line;
}

void nameWidget(QWidget& widget, const QString& objectName, const QString& accessibleName) {
    widget.setObjectName(objectName);
    widget.setAccessibleName(accessibleName);
}

} // namespace nodwarden::app
