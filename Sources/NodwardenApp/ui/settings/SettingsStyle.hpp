#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QWidget;

namespace nodwarden::app::SettingsStyle {

/// The settings window's icon for a symbol name, in the brand accent unless `color` is given.
QIcon symbolIcon(const QString& symbolName, const QColor& color = QColor());

/// The chart colours for the appearance `widget` is drawn in.
QColor impactSaved(const QWidget& widget);
QColor impactAmber(const QWidget& widget);

/// Makes `widget` small secondary text (smaller font, faded text colour).
void makeSecondary(QWidget& widget);
/// Gives `widget`'s text the warning orange.
void makeWarning(QWidget& widget);

} // namespace nodwarden::app::SettingsStyle
