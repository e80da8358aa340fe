#include <NodwardenApp/ui/theme/FirstRunStyle.hpp>

#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QPushButton>
#include <QWidget>

namespace nodwarden::app::FirstRun {

QPixmap symbolPixmap(const QString& symbol, int size, const QColor& color, const QWidget* context) {
    const qreal ratio = context ? context->devicePixelRatioF() : 1.0;
    return symbolIcon(symbol, color).pixmap(QSize(size, size), ratio);
}

void stylePrimaryButton(QPushButton& button) {
    const QColor accent = Theme::brandAccent();
    // A style sheet rather than the palette: styles lighten a palette's button colour into a
    // gradient that leaves white text hard to read.
    button.setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white; "
                                        "border: 1px solid %2; border-radius: 5px; "
                                        "padding: 4px 16px; }"
                                        "QPushButton:pressed { background-color: %2; }"
                                        // The window's text colour: 3:1 and more against
                                        // the accent and the window both, where a darker
                                        // accent was a faint line on the accent.
                                        "QPushButton:focus { border: 2px solid %3; }")
                             .arg(accent.name(), accent.darker(130).name(),
                                  button.palette().color(QPalette::WindowText).name()));
}

} // namespace nodwarden::app::FirstRun
