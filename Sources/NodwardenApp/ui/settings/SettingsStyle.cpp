#include "SettingsStyle.hpp"

#include <QCoreApplication>

#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QFont>
#include <QPalette>
#include <QWidget>

namespace nodwarden::app::SettingsStyle {

QIcon symbolIcon(const QString& symbolName, const QColor& color) {
    return nodwarden::app::symbolIcon(symbolName, color.isValid() ? color : Theme::brandAccent());
}

QColor impactSaved(const QWidget& widget) {
    return Theme::impactSaved(widget.palette());
}

QColor impactAmber(const QWidget& widget) {
    return Theme::impactAmber(widget.palette());
}

void makeSecondary(QWidget& widget) {
    QFont font = widget.font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    widget.setFont(font);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, Theme::secondaryText(palette));
    widget.setPalette(palette);
}

void makeWarning(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, Theme::textTone(Theme::orange(), palette));
    widget.setPalette(palette);
}

} // namespace nodwarden::app::SettingsStyle
