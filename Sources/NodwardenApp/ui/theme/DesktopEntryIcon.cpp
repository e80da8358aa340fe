#include <NodwardenApp/ui/theme/DesktopEntryIcon.hpp>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QTextStream>

namespace nodwarden::app {

namespace {

/// The Icon= value of the [Desktop Entry] group, without localised variants.
QString iconKey(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream in(&file);
    bool inEntry = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == QLatin1String("[Desktop Entry]");
        } else if (inEntry && line.startsWith(QLatin1String("Icon="))) {
            return line.mid(5).trimmed();
        }
    }
    return {};
}

bool drawsSomething(const QIcon& icon) {
    const QImage image = icon.pixmap(QSize(20, 20)).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::optional<QIcon> desktopEntryIcon(const QString& applicationID) {
    if (applicationID.isEmpty() || applicationID.contains(u'/')) {
        return std::nullopt;
    }
    const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation,
                                                 applicationID + QStringLiteral(".desktop"));
    if (entry.isEmpty()) {
        return std::nullopt;
    }
    const QString key = iconKey(entry);
    if (key.isEmpty()) {
        return std::nullopt;
    }
    QIcon icon;
    if (QFileInfo(key).isAbsolute()) {
        icon = QIcon(key);
    } else if (QIcon::hasThemeIcon(key)) {
        icon = QIcon::fromTheme(key);
    }
    if (icon.isNull() || !drawsSomething(icon)) {
        return std::nullopt;
    }
    return icon;
}

} // namespace nodwarden::app
