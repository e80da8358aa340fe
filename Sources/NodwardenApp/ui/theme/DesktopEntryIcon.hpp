#pragma once

#include <QIcon>
#include <QString>

#include <optional>

namespace nodwarden::app {

/// The icon an installed application names in its desktop entry ("<id>.desktop" under the
/// applications folders of $XDG_DATA_HOME and $XDG_DATA_DIRS): its Icon= key, as a theme name or
/// a file. Absent when there is no such entry, it names no icon, or the icon draws nothing.
std::optional<QIcon> desktopEntryIcon(const QString& applicationID);

} // namespace nodwarden::app
