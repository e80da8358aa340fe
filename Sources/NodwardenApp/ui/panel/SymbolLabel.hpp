#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

namespace nodwarden::app {

/// A label showing one symbol at `size` pixels in `color`; recolourable later.
class SymbolLabel : public QLabel {
    Q_OBJECT
public:
    SymbolLabel(const QString& symbolName, int size, const QColor& color,
                QWidget* parent = nullptr);
    /// Redraws only when something changed.
    void setSymbol(const QString& symbolName, const QColor& color);
    const QString& symbolName() const { return symbolName_; }
    const QColor& color() const { return color_; }

private:
    QString symbolName_;
    QColor color_;
    int size_;
};

} // namespace nodwarden::app
