#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace nodwarden::app::Theme {

QColor gray() {
    return {142, 142, 147};
}

QColor blue() {
    return {0, 122, 255};
}

QColor green() {
    return {52, 179, 89};
}

QColor yellow() {
    return {230, 184, 0};
}

QColor orange() {
    return {255, 149, 0};
}

QColor statusColor(GuardStatus status) {
    switch (status) {
    case GuardStatus::off:
        return gray();
    case GuardStatus::watching:
        return blue();
    case GuardStatus::keepingAwake:
    case GuardStatus::pluggedInUnlimited:
        return green();
    case GuardStatus::idleGrace:
        return yellow();
    case GuardStatus::batterySafety:
    case GuardStatus::thermalSafety:
        return orange();
    }
    return gray();
}

QColor brandAccent() {
    return {91, 84, 214};
}

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(std::clamp(opacity, 0.0, 1.0)));
    return color;
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

QColor secondaryText(const QPalette& palette) {
    const QColor text = palette.color(QPalette::WindowText);
    const QColor background = palette.color(QPalette::Window);
    // Two parts text, one part background: visibly quieter than the main text. Where that falls
    // below what small text needs (a grey theme's text, or a label already made quieter), it
    // moves back toward the text until it reads.
    for (double weight = 2.0 / 3; weight < 1.0; weight += 0.02) {
        const QColor mixed =
            QColor::fromRgbF(float(weight * text.redF() + (1 - weight) * background.redF()),
                             float(weight * text.greenF() + (1 - weight) * background.greenF()),
                             float(weight * text.blueF() + (1 - weight) * background.blueF()));
        if (contrastRatio(mixed, background) >= minimumTextContrast) {
            return mixed;
        }
    }
    return textTone(text, palette);
}

void useSecondaryText(QWidget& widget) {
    QPalette palette = widget.palette();
    const QColor secondary = secondaryText(palette);
    palette.setColor(QPalette::WindowText, secondary);
    palette.setColor(QPalette::Text, secondary);
    widget.setPalette(palette);
    widget.setForegroundRole(QPalette::WindowText);
}

namespace {

double channelLuminance(double value) {
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& color) {
    const QColor rgb = color.toRgb();
    return 0.2126 * channelLuminance(rgb.redF()) + 0.7152 * channelLuminance(rgb.greenF()) +
           0.0722 * channelLuminance(rgb.blueF());
}

QColor over(const QColor& top, double opacity, const QColor& bottom) {
    const auto mix = [opacity](double a, double b) { return a * opacity + b * (1 - opacity); };
    return QColor::fromRgbF(float(mix(top.redF(), bottom.redF())),
                            float(mix(top.greenF(), bottom.greenF())),
                            float(mix(top.blueF(), bottom.blueF())));
}

} // namespace

double contrastRatio(const QColor& first, const QColor& second) {
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor textTone(const QColor& tone, const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const QColor tinted = over(tone, strongestTint, window);
    const bool dark = isDark(palette);
    const auto readable = [&](const QColor& color) {
        return contrastRatio(color, window) >= minimumTextContrast &&
               contrastRatio(color, tinted) >= minimumTextContrast;
    };
    // Lightness in small steps keeps the hue: a darker orange still reads as orange.
    QColor color = tone.toHsl();
    for (int step = 0; step < 100 && !readable(color); ++step) {
        const int lightness = std::clamp(color.lightness() + (dark ? 3 : -3), 0, 255);
        color.setHsl(color.hslHue(), color.hslSaturation(), lightness);
    }
    return color.toRgb();
}

QColor impactSaved(bool dark) {
    return dark ? QColor::fromRgbF(0.388f, 0.812f, 0.6f) : QColor::fromRgbF(0.137f, 0.478f, 0.298f);
}

QColor impactAmber(bool dark) {
    return dark ? QColor::fromRgbF(0.96f, 0.71f, 0.3f) : QColor::fromRgbF(0.78f, 0.49f, 0.08f);
}

QColor impactSaved(const QPalette& palette) {
    return impactSaved(isDark(palette));
}

QColor impactAmber(const QPalette& palette) {
    return impactAmber(isDark(palette));
}

void applyBrandAccent(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Highlight, brandAccent());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, brandAccent());
    widget.setPalette(palette);
}

} // namespace nodwarden::app::Theme
