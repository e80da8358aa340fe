#include "SettingsDesktopHooks.hpp"

#include <QCoreApplication>

#include <NodwardenCore/system/PlatformPaths.hpp>

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>

namespace nodwarden::app {

SettingsDesktopHooks SettingsDesktopHooks::standard() {
    SettingsDesktopHooks hooks;
    hooks.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    hooks.openLoginItems = [] {
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/autostart");
        QDir().mkpath(folder);
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    hooks.logPath = PlatformPaths::diagnosticLogPath();
    return hooks;
}

} // namespace nodwarden::app
