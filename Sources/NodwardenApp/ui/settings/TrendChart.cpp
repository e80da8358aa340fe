#include "TrendChart.hpp"

#include "SettingsStyle.hpp"

#include <QPainter>

#include <algorithm>

namespace nodwarden::app {

TrendChart::TrendChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("trendChart"));
    setAccessibleName(tr("30-day trend"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TrendChart::setDays(std::vector<RecentDay> days) {
    if (days == days_) {
        return;
    }
    days_ = std::move(days);
    update();
}

QSize TrendChart::sizeHint() const {
    return {400, barHeight * 2 + stackGap};
}

QSize TrendChart::minimumSizeHint() const {
    return {100, barHeight * 2 + stackGap};
}

void TrendChart::paintEvent(QPaintEvent*) {
    if (days_.empty()) {
        return;
    }
    double scale = 1;
    for (const RecentDay& day : days_) {
        scale = std::max(scale, day.bucket.protectedSeconds + day.bucket.keptAwakeSeconds);
    }
    QColor amber = SettingsStyle::impactAmber(*this);
    amber.setAlphaF(0.35f);
    const QColor green = SettingsStyle::impactSaved(*this);

    const auto count = static_cast<double>(days_.size());
    const double columnWidth = std::max(1.0, (width() - columnGap * (count - 1)) / count);
    auto barFor = [scale](double seconds) {
        return std::max(double(minimumBar), seconds / scale * barHeight);
    };

    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    const double bottom = height();
    for (std::size_t index = 0; index < days_.size(); ++index) {
        const DayBucket& bucket = days_[index].bucket;
        const double x = static_cast<double>(index) * (columnWidth + columnGap);
        const double saved = barFor(bucket.protectedSeconds);
        const double kept = barFor(bucket.keptAwakeSeconds);
        painter.fillRect(QRectF(x, bottom - saved, columnWidth, saved), green);
        painter.fillRect(QRectF(x, bottom - saved - stackGap - kept, columnWidth, kept), amber);
    }
}

} // namespace nodwarden::app
