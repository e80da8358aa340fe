#pragma once

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <QWidget>

#include <vector>

namespace nodwarden::app {

/// Stacked daily columns: kept-awake time (amber, faint) above protected time (green), each bar
/// scaled against the largest daily total and never shorter than a 2-point stub.
class TrendChart : public QWidget {
    Q_OBJECT
public:
    /// Tallest a single bar can be.
    static constexpr int barHeight = 40;
    static constexpr int columnGap = 2;
    static constexpr int stackGap = 1;
    static constexpr int minimumBar = 2;

    explicit TrendChart(QWidget* parent = nullptr);

    /// The days to draw, oldest first.
    void setDays(std::vector<RecentDay> days);
    const std::vector<RecentDay>& days() const { return days_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<RecentDay> days_;
};

} // namespace nodwarden::app
