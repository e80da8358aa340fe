#include <NodwardenApp/ui/theme/Icons.hpp>

#include <NodwardenApp/ui/theme/IconsFallback.hpp>

#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <utility>
#include <vector>

namespace nodwarden::app {

namespace {

struct ThemeMapping {
    const char* symbol;
    std::vector<const char*> themeNames;
};

// The model's symbol names and the freedesktop icon names that show the same idea. Symbolic
// (monochrome) names come first: they take the requested colour cleanly.
const std::vector<ThemeMapping>& themeTable() {
    static const std::vector<ThemeMapping> table = {
        {"moon.zzz", {"weather-clear-night-symbolic", "weather-clear-night"}},
        {"moon.zzz.fill", {"weather-clear-night-symbolic", "weather-clear-night"}},
        {"eye", {"view-reveal-symbolic", "view-visible-symbolic"}},
        {"eye.fill", {"view-reveal-symbolic", "view-visible-symbolic"}},
        {"bolt.fill", {"thunderbolt-symbolic", "power-profile-performance-symbolic"}},
        {"bolt.badge.clock", {"power-profile-balanced-symbolic", "thunderbolt-symbolic"}},
        {"bolt.shield", {"security-high-symbolic"}},
        {"hourglass", {"content-loading-symbolic", "alarm-symbolic"}},
        {"questionmark.bubble", {"dialog-question-symbolic", "help-about-symbolic"}},
        {"stopwatch", {"alarm-symbolic", "appointment-soon-symbolic"}},
        {"battery.25", {"battery-level-20-symbolic", "battery-caution-symbolic"}},
        {"battery.50", {"battery-level-50-symbolic", "battery-good-symbolic"}},
        {"battery.75", {"battery-level-80-symbolic", "battery-good-symbolic"}},
        {"battery.100", {"battery-level-100-symbolic", "battery-full-symbolic"}},
        {"thermometer.high", {"temperature-symbolic", "sensors-temperature-symbolic"}},
        {"powerplug.fill", {"ac-adapter-symbolic", "battery-full-charged-symbolic"}},
        {"moon.fill", {"weather-clear-night-symbolic", "night-light-symbolic"}},
        {"exclamationmark.triangle", {"dialog-warning-symbolic", "dialog-warning"}},
        {"exclamationmark.triangle.fill", {"dialog-warning-symbolic", "dialog-warning"}},
        {"sparkles", {"starred-symbolic", "applications-science-symbolic"}},
        {"chevron.left.forwardslash.chevron.right",
         {"text-x-script-symbolic", "applications-engineering-symbolic"}},
        {"globe", {"web-browser-symbolic", "network-workgroup-symbolic"}},
        {"terminal", {"utilities-terminal-symbolic", "utilities-terminal"}},
        {"app.dashed", {"application-x-executable-symbolic", "application-x-executable"}},
        {"gearshape", {"emblem-system-symbolic", "preferences-system-symbolic"}},
        {"power", {"system-shutdown-symbolic", "application-exit-symbolic"}},
        {"arrow.counterclockwise", {"edit-undo-symbolic", "view-refresh-symbolic"}},
        {"checkmark.seal.fill", {"emblem-ok-symbolic", "emblem-default-symbolic"}},
        {"checkmark.circle.fill", {"emblem-ok-symbolic", "object-select-symbolic"}},
        {"chevron.right", {"go-next-symbolic", "go-next"}},
        {"magnifyingglass", {"system-search-symbolic", "edit-find-symbolic"}},
        {"doc.text.magnifyingglass", {"edit-find-symbolic", "system-search-symbolic"}},
        {"laptopcomputer", {"computer-laptop-symbolic", "computer-symbolic"}},
        {"cpu", {"cpu-symbolic", "utilities-system-monitor-symbolic"}},
        {"chart.bar", {"power-statistics-symbolic", "org.gnome.PowerStats-symbolic"}},
        {"chart.bar.xaxis", {"power-statistics-symbolic", "org.gnome.PowerStats-symbolic"}},
        {"wrench.and.screwdriver", {"applications-engineering-symbolic", "preferences-other"}},
        {"lock.shield", {"security-high-symbolic", "system-lock-screen-symbolic"}},
        {"lock.shield.fill", {"security-high-symbolic", "system-lock-screen-symbolic"}},
        {"trash", {"user-trash-symbolic", "edit-delete-symbolic"}},
        {"waveform.path.ecg", {"utilities-system-monitor-symbolic"}},
        {"arrow.left.arrow.right", {"media-playlist-repeat-symbolic", "object-flip-horizontal"}},
        {"arrow.down.circle", {"folder-download-symbolic", "go-down-symbolic"}},
        {"switch.2", {"preferences-other-symbolic", "emblem-system-symbolic"}},
        {"ladybug", {"dialog-information-symbolic"}},
        {"checklist", {"view-list-symbolic", "checkbox-checked-symbolic"}},
        {"accessibility",
         {"preferences-desktop-accessibility-symbolic", "preferences-desktop-accessibility"}},
        {"circle", {"radio-symbolic", "media-record-symbolic"}},
        {cupMarkSymbol, {}},
    };
    return table;
}

bool hasVisiblePixels(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) > 0) {
                return true;
            }
        }
    }
    return false;
}

/// Paints a symbol on demand at any size, from the theme or the program's own drawing.
class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(QString name, QColor color, SymbolSource source)
        : name_(std::move(name)), color_(color), source_(source) {}

    // Drawn at the device's pixels (a tray at scale 2 paints into a 2x surface): a pixmap of
    // the logical size would be stretched and blurred.
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const QPaintDevice* device = painter->device();
        const qreal ratio = device != nullptr ? device->devicePixelRatioF() : 1.0;
        QPixmap drawn = scaledPixmap(rect.size() * ratio, mode, state, ratio);
        painter->drawPixmap(rect, drawn);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap result = pixmap(size, mode, state);
        result.setDevicePixelRatio(scale);
        return result;
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const quint64 key =
            (quint64(size.width()) << 32) | (quint64(size.height()) << 4) | quint64(mode);
        if (const auto cached = cache_.constFind(key); cached != cache_.constEnd()) {
            return *cached;
        }
        QPixmap result = render(size);
        if (mode == QIcon::Disabled) {
            result = faded(result);
        }
        cache_.insert(key, result);
        return result;
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(*this); }
    QString key() const override { return QStringLiteral("stayloom.symbol"); }
    QString iconName() override { return name_; }

private:
    QPixmap render(const QSize& size) const {
        QPixmap canvas(size.isEmpty() ? QSize(1, 1) : size);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRect area(QPoint(0, 0), size);
        if (source_ == SymbolSource::theme && paintThemed(painter, area)) {
            return canvas;
        }
        detail::drawSymbol(painter, name_, area, color_);
        return canvas;
    }

    // A theme icon counts only when it really renders: a theme may list a name whose file the
    // image plugins cannot read, which would otherwise leave a blank control.
    bool paintThemed(QPainter& painter, const QRect& area) const {
        for (const QString& themeName : themeIconNames(name_)) {
            if (!QIcon::hasThemeIcon(themeName)) {
                continue;
            }
            const QPixmap themed = QIcon::fromTheme(themeName).pixmap(area.size());
            if (themed.isNull() || !hasVisiblePixels(themed.toImage())) {
                continue;
            }
            QRect target(QPoint(0, 0), themed.size().scaled(area.size(), Qt::KeepAspectRatio));
            target.moveCenter(area.center());
            painter.drawPixmap(target, themed);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(area, color_);
            return true;
        }
        return false;
    }

    static QPixmap faded(const QPixmap& source) {
        QPixmap result(source.size());
        result.fill(Qt::transparent);
        QPainter painter(&result);
        painter.setOpacity(0.4);
        painter.drawPixmap(0, 0, source);
        return result;
    }

    QString name_;
    QColor color_;
    SymbolSource source_;
    QHash<quint64, QPixmap> cache_;
};

} // namespace

QIcon symbolIcon(const QString& symbolName, const QColor& color, SymbolSource source) {
    return QIcon(new SymbolIconEngine(symbolName, color, source));
}

QStringList themeIconNames(const QString& symbolName) {
    QStringList names;
    for (const ThemeMapping& mapping : themeTable()) {
        if (symbolName == QLatin1String(mapping.symbol)) {
            for (const char* name : mapping.themeNames) {
                names << QString::fromLatin1(name);
            }
            break;
        }
    }
    return names;
}

QIcon programIcon(bool symbolic) {
    detail::ensureIconResource();
    const QString name = symbolic ? QStringLiteral("org.stayloom.Stayloom-symbolic")
                                  : QStringLiteral("org.stayloom.Stayloom");
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/icons/hicolor/scalable/apps/") + name +
                                        QStringLiteral(".svg")));
}

QStringList mappedSymbolNames() {
    QStringList names;
    for (const ThemeMapping& mapping : themeTable()) {
        names << QString::fromLatin1(mapping.symbol);
    }
    return names;
}

bool iconDrawsSomething(const QIcon& icon, int size) {
    return hasVisiblePixels(icon.pixmap(QSize(size, size)).toImage());
}

} // namespace nodwarden::app
