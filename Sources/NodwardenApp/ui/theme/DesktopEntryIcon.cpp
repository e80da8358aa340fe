#include <NodwardenApp/ui/theme/DesktopEntryIcon.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>

#include <QFile>
#include <QFileInfo>
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
    if (icon.isNull() || !iconDrawsSomething(icon, 20)) {
        return std::nullopt;
    }
    return icon;
}

} // namespace nodwarden::app
