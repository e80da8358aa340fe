#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

class QPushButton;
class QWidget;

namespace nodwarden::app::FirstRun {

/// `symbol` drawn at `size` device-independent pixels in `color`, for `context`'s screen.
QPixmap symbolPixmap(const QString& symbol, int size, const QColor& color, const QWidget* context);

/// Gives `button` the brand accent as its face, marking it as the window's main action.
void stylePrimaryButton(QPushButton& button);

} // namespace nodwarden::app::FirstRun
