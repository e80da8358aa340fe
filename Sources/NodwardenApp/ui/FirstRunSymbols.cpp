#include <NodwardenApp/ui/FirstRunSymbols.hpp>

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QWidget>

#include <utility>

namespace nodwarden::app::FirstRun {

namespace {

struct SymbolSource {
    const char16_t* symbol;
    const char16_t* themeName;
    QStyle::StandardPixmap fallback;
};

const SymbolSource sources[] = {
    {u"lock.shield.fill", u"security-high", QStyle::SP_MessageBoxInformation},
    {u"exclamationmark.triangle.fill", u"dialog-warning", QStyle::SP_MessageBoxWarning},
    {u"checklist", u"view-list-details", QStyle::SP_FileDialogDetailedView},
    {u"accessibility", u"preferences-desktop-accessibility", QStyle::SP_MessageBoxQuestion},
    {u"eye.fill", u"view-visible", QStyle::SP_DialogYesButton},
    {u"eye", u"view-hidden", QStyle::SP_DialogNoButton},
    {u"checkmark.circle.fill", u"emblem-ok-symbolic", QStyle::SP_DialogApplyButton},
};

QIcon iconFor(const QString& symbol, const QWidget* context) {
    QStyle* style = context ? context->style() : QApplication::style();
    for (const SymbolSource& source : sources) {
        if (symbol == QStringView(source.symbol)) {
            const QIcon themed = QIcon::fromTheme(QString::fromUtf16(source.themeName));
            return themed.isNull() ? style->standardIcon(source.fallback) : themed;
        }
    }
    return style->standardIcon(QStyle::SP_MessageBoxInformation);
}

} // namespace

QPixmap symbolPixmap(const QString& symbol, int size, const QWidget* context, const QColor& tint) {
    const qreal ratio = context ? context->devicePixelRatioF() : 1.0;
    QPixmap pixmap = iconFor(symbol, context).pixmap(QSize(size, size), ratio);
    if (pixmap.isNull()) {
        // Some styles return nothing at unusual sizes; draw a plain disc rather than nothing.
        pixmap = QPixmap(QSize(size, size) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(tint.isValid() ? tint : QColor(Qt::gray));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QRectF(0, 0, size, size).adjusted(2, 2, -2, -2));
        return pixmap;
    }
    if (tint.isValid()) {
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), tint);
    }
    return pixmap;
}

} // namespace nodwarden::app::FirstRun
