#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

class QWidget;

namespace nodwarden::app::FirstRun {

/// A symbol of the first-run windows at `size` device-independent pixels, from the desktop's icon
/// theme or a standard style icon; tinted with `tint` when one is given. Never a blank image.
QPixmap symbolPixmap(const QString& symbol, int size, const QWidget* context,
                     const QColor& tint = QColor());

} // namespace nodwarden::app::FirstRun
