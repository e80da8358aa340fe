#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

namespace nodwarden::app {

/// The symbol name of the product's small cup drawing.
inline constexpr const char* cupMarkSymbol = "stayloom.cup";

/// Where an icon for a symbol comes from.
enum class SymbolSource {
    /// The desktop's icon theme, whichever theme is current.
    theme,
    /// The program's own drawing only (screenshots, tests, places that need one exact look).
    drawn,
};

/// The icon for one of the model's symbol names ("bolt.fill", "gearshape", …) in `color`: the
/// desktop icon theme's icon for it when the theme has one that renders, recoloured to `color`,
/// else the program's own drawing. Never blank: an unknown name gets a generic mark.
QIcon symbolIcon(const QString& symbolName, const QColor& color,
                 SymbolSource source = SymbolSource::theme);

/// The freedesktop icon names tried for `symbolName`, most fitting first; empty when the table
/// has no entry for it.
QStringList themeIconNames(const QString& symbolName);

/// Every symbol name the table maps, in table order.
QStringList mappedSymbolNames();

/// The program's own icon ("org.stayloom.Stayloom", or its "-symbolic" variant for the tray):
/// the installed theme's copy when there is one, else the copy shipped inside the program.
QIcon programIcon(bool symbolic = false);

/// Whether `icon` drawn at `size` pixels square leaves any pixel that is not fully transparent;
/// themes and desktop entries can name icons that exist but draw nothing.
bool iconDrawsSomething(const QIcon& icon, int size);

} // namespace nodwarden::app
