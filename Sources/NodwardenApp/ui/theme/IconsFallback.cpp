#include <NodwardenApp/ui/theme/IconsFallback.hpp>

#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <memory>

// Outside any namespace, as the resource's initialiser is declared there.
static void initialiseIconResource() {
    Q_INIT_RESOURCE(icons);
}

namespace nodwarden::app::detail {

namespace {

const QString folder = QStringLiteral(":/icons/symbols/");
const QString genericName = QStringLiteral("generic");

/// The artwork of `symbolName`: its own file, else that of the name without its last parts
/// ("battery.100.fill" → "battery.100"), else none.
QString artworkName(const QString& symbolName) {
    ensureIconResource();
    QString name = symbolName;
    while (!name.isEmpty()) {
        if (name != genericName && QFile::exists(folder + name + QStringLiteral(".svg"))) {
            return name;
        }
        const qsizetype dot = name.lastIndexOf(u'.');
        name = dot > 0 ? name.left(dot) : QString();
    }
    return {};
}

/// One parsed renderer per artwork, made on first use (main thread only, like all painting).
QSvgRenderer& renderer(const QString& name) {
    static QHash<QString, std::shared_ptr<QSvgRenderer>> renderers;
    auto found = renderers.find(name);
    if (found == renderers.end()) {
        found = renderers.insert(
            name, std::make_shared<QSvgRenderer>(folder + name + QStringLiteral(".svg")));
    }
    return **found;
}

} // namespace

void ensureIconResource() {
    static const bool initialised = (initialiseIconResource(), true);
    (void)initialised;
}

bool hasOwnDrawing(const QString& symbolName) {
    return !artworkName(symbolName).isEmpty();
}

void drawSymbol(QPainter& painter, const QString& symbolName, const QRectF& rect,
                const QColor& color) {
    if (rect.isEmpty()) {
        return;
    }
    QString name = artworkName(symbolName);
    if (name.isEmpty()) {
        name = genericName;
    }
    // The artwork is black; it is drawn on a layer of its own and then takes `color`, so the
    // colouring cannot spill onto what lies below.
    const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const double side = std::min(rect.width(), rect.height());
    QImage layer(QSize(int(std::ceil(side * ratio)), int(std::ceil(side * ratio))),
                 QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHint(QPainter::Antialiasing);
        renderer(name).render(&layerPainter, QRectF(QPointF(0, 0), QSizeF(layer.size())));
        layerPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        layerPainter.fillRect(layer.rect(), color);
    }
    const QRectF target(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.drawImage(target, layer);
}

} // namespace nodwarden::app::detail
