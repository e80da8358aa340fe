#pragma once

#include <QWidget>

namespace nodwarden::app {

/// A row of dots, one per step, the current one filled with the highlight colour. Its accessible
/// name reads "Step 2 of 3".
class FirstRunProgressDots : public QWidget {
    Q_OBJECT

public:
    FirstRunProgressDots(int count, QWidget* parent = nullptr);

    int count() const { return count_; }
    int current() const { return current_; }
    /// Marks `index` (0-based) as the current step; out-of-range values are clamped.
    void setCurrent(int index);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int count_;
    int current_ = 0;
};

} // namespace nodwarden::app
