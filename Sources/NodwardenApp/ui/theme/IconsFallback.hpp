#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace nodwarden::app::detail {

/// Draws the program's own artwork of the symbol `symbolName` (an SVG file shipped in the
/// program's resources, data/icons/symbols) into `rect` in `color`: the fallback used when the
/// desktop's icon theme has no icon for it. A name without artwork of its own gets a generic
/// mark, never nothing.
void drawSymbol(QPainter& painter, const QString& symbolName, const QRectF& rect,
                const QColor& color);

/// Makes the program's icon resource (":/icons") readable; cheap after the first call.
void ensureIconResource();

/// Whether `symbolName` has a drawing of its own rather than the generic mark.
bool hasOwnDrawing(const QString& symbolName);

} // namespace nodwarden::app::detail
