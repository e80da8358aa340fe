#pragma once

#include <NodwardenCore/model/GuardStatus.hpp>

#include <QColor>

class QPalette;
class QWidget;

namespace nodwarden::app {

/// The program's colours: status colours, the brand accent, warning tints and the two statistics
/// chart colours. Views take every colour from here so the panel and the windows agree.
namespace Theme {

QColor gray();
QColor blue();
QColor green();
QColor yellow();
QColor orange();

/// The colour of `status` in the panel and the tray: off gray, watching blue, keeping awake and
/// plugged-in unlimited green, idle grace yellow, battery and thermal safety orange.
QColor statusColor(GuardStatus status);

/// The brand accent that tints the panel and the windows.
QColor brandAccent();

/// `color` at `opacity` (0 to 1), for the low-opacity backgrounds of pills, banners and circles.
QColor withOpacity(QColor color, double opacity);

/// Whether `palette` is a dark appearance (its window colour is darker than its text).
bool isDark(const QPalette& palette);

/// Secondary text: the palette's text colour, faded towards its background.
QColor secondaryText(const QPalette& palette);

/// Gives `widget`'s text the secondary colour of its palette. Unlike the placeholder colour (the
/// text at half opacity, 3.9:1 on a light window) it keeps `minimumTextContrast` against the
/// window in light and dark themes, so body text can be quieter without being hard to read.
void useSecondaryText(QWidget& widget);

/// The contrast ratio of two colours as the accessibility guidelines define it: from 1 (the same
/// luminance) to 21 (black on white). Transparency is ignored.
double contrastRatio(const QColor& first, const QColor& second);

/// The least contrast small text keeps against its background (the guidelines' AA level).
inline constexpr double minimumTextContrast = 4.5;

/// The strongest background a tinted text sits on: pills and banners lay `tone` at up to this
/// opacity over the window.
inline constexpr double strongestTint = 0.22;

/// `tone` as a text colour for `palette`: the same hue, darkened on a light window or lightened
/// on a dark one until it reaches `minimumTextContrast` against the window and against the
/// window tinted with `tone` at `strongestTint`.
QColor textTone(const QColor& tone, const QPalette& palette);

/// The chart colour of protected ("truly saved") time, in the light or dark variant.
QColor impactSaved(bool dark);
/// The chart colour of kept-awake ("kept working") time, in the light or dark variant.
QColor impactAmber(bool dark);
/// The variant of `impactSaved` that suits `palette`.
QColor impactSaved(const QPalette& palette);
/// The variant of `impactAmber` that suits `palette`.
QColor impactAmber(const QPalette& palette);

/// Sets the accent as the highlight colour of `widget`'s palette, so selections and default
/// buttons inside it carry the brand colour.
void applyBrandAccent(QWidget& widget);

} // namespace Theme
} // namespace nodwarden::app
