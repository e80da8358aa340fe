#include <NodwardenApp/ui/firstrun/FirstRunProgressDots.hpp>

#include <QPainter>

#include <algorithm>

namespace nodwarden::app {

namespace {

constexpr int dotDiameter = 7;
constexpr int dotSpacing = 7;

} // namespace

FirstRunProgressDots::FirstRunProgressDots(int count, QWidget* parent)
    : QWidget(parent), count_(std::max(count, 1)) {
    setObjectName(QStringLiteral("progressDots"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCurrent(0);
}

void FirstRunProgressDots::setCurrent(int index) {
    current_ = std::clamp(index, 0, count_ - 1);
    setAccessibleName(tr("Step %1 of %2").arg(current_ + 1).arg(count_));
    update();
}

QSize FirstRunProgressDots::sizeHint() const {
    return {count_ * dotDiameter + (count_ - 1) * dotSpacing, dotDiameter + 4};
}

void FirstRunProgressDots::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QSize hint = sizeHint();
    const qreal left = (width() - hint.width()) / 2.0;
    const qreal top = (height() - dotDiameter) / 2.0;
    QColor inactive = palette().color(QPalette::WindowText);
    inactive.setAlphaF(0.25);
    for (int index = 0; index < count_; ++index) {
        painter.setBrush(index == current_ ? palette().color(QPalette::Highlight) : inactive);
        painter.drawEllipse(
            QRectF(left + index * (dotDiameter + dotSpacing), top, dotDiameter, dotDiameter));
    }
}

} // namespace nodwarden::app
