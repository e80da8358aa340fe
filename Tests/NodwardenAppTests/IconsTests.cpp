#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/ui/panel/AgentsSection.hpp>
#include <NodwardenApp/ui/theme/DesktopEntryIcon.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>
#include <NodwardenLinux/LinuxAppIdentity.hpp>

#include <QImage>
#include <QPalette>
#include <QPixmap>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <array>
#include <set>

using namespace nodwarden;
using namespace nodwarden::app;

namespace {

QImage render(const QString& name, const QColor& color, int size = 24,
              SymbolSource source = SymbolSource::drawn, QIcon::Mode mode = QIcon::Normal) {
    return symbolIcon(name, color, source)
        .pixmap(QSize(size, size), mode)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

int opaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
        }
    }
    return count;
}

int maxAlpha(const QImage& image) {
    int alpha = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            alpha = std::max(alpha, qAlpha(image.pixel(x, y)));
        }
    }
    return alpha;
}

constexpr std::array allStatuses = {GuardStatus::off,
                                    GuardStatus::watching,
                                    GuardStatus::keepingAwake,
                                    GuardStatus::idleGrace,
                                    GuardStatus::batterySafety,
                                    GuardStatus::thermalSafety,
                                    GuardStatus::pluggedInUnlimited};

} // namespace

TEST(Icons, EveryMappedSymbolDrawsVisiblePixelsAtSmallAndLargeSizes) {
    ASSERT_GT(mappedSymbolNames().size(), 30);
    for (const QString& name : mappedSymbolNames()) {
        for (const int size : {16, 44}) {
            const QImage image = render(name, Qt::black, size);
            ASSERT_FALSE(image.isNull()) << name.toStdString();
            EXPECT_GT(opaquePixels(image), size / 2)
                << name.toStdString() << " at " << size << " px is (nearly) blank";
        }
    }
}

TEST(Icons, EveryMappedSymbolHasADrawingOfItsOwnNotTheGenericMark) {
    const QImage generic = render(QStringLiteral("no.such.symbol"), Qt::black);
    EXPECT_GT(opaquePixels(generic), 20) << "an unknown name still gets a visible mark";
    for (const QString& name : mappedSymbolNames()) {
        EXPECT_NE(render(name, Qt::black), generic) << name.toStdString();
    }
}

TEST(Icons, StatusSymbolsOfTheTrayAndHeroAreEachDistinct) {
    std::set<QString> names;
    for (const GuardStatus status : allStatuses) {
        for (const auto symbol :
             {PanelTexts::statusIconName(status), PanelTexts::heroGlyph(status)}) {
            names.insert(QString::fromUtf8(symbol.data(), qsizetype(symbol.size())));
        }
    }
    std::vector<QImage> images;
    for (const QString& name : names) {
        const QImage image = render(name, Qt::black);
        for (const QImage& earlier : images) {
            EXPECT_NE(image, earlier) << name.toStdString() << " looks like another status symbol";
        }
        images.push_back(image);
        EXPECT_FALSE(themeIconNames(name).isEmpty()) << name.toStdString() << " has no theme names";
    }
}

TEST(Icons, FilledAndOutlinedVariantsDiffer) {
    for (const char* base : {"eye", "moon.zzz", "exclamationmark.triangle", "checkmark.seal"}) {
        const QString outline = QString::fromLatin1(base);
        EXPECT_NE(render(outline, Qt::black), render(outline + QStringLiteral(".fill"), Qt::black))
            << base;
    }
}

TEST(Icons, DrawnSymbolsTakeTheRequestedColour) {
    const QColor orange = Theme::orange();
    const QImage image = render(QStringLiteral("exclamationmark.triangle.fill"), orange);
    int matching = 0;
    int other = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) < 255) {
                continue;
            }
            (QColor(pixel).rgb() == orange.rgb() ? matching : other) += 1;
        }
    }
    EXPECT_GT(matching, 50);
    EXPECT_EQ(other, 0);
}

TEST(Icons, ThemedIconsAreNeverBlankEvenWithoutATheme) {
    // The offscreen platform has no icon theme: every symbol must fall back to its drawing.
    for (const QString& name : mappedSymbolNames()) {
        EXPECT_GT(opaquePixels(render(name, Qt::darkGray, 22, SymbolSource::theme)), 5)
            << name.toStdString();
    }
}

TEST(Icons, DisabledIconsAreFaded) {
    const QString name = QStringLiteral("gearshape");
    EXPECT_EQ(maxAlpha(render(name, Qt::black)), 255);
    EXPECT_LT(maxAlpha(render(name, Qt::black, 24, SymbolSource::drawn, QIcon::Disabled)), 128);
}

TEST(Theme, ChartColoursFollowThePaletteAppearance) {
    QPalette light;
    light.setColor(QPalette::Window, Qt::white);
    light.setColor(QPalette::WindowText, Qt::black);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));

    EXPECT_FALSE(Theme::isDark(light));
    EXPECT_TRUE(Theme::isDark(dark));
    EXPECT_EQ(Theme::impactSaved(light), Theme::impactSaved(false));
    EXPECT_EQ(Theme::impactSaved(dark), Theme::impactSaved(true));
    EXPECT_EQ(Theme::impactAmber(dark), Theme::impactAmber(true));
    // Each variant is readable on its own background: the dark one is the lighter tone.
    EXPECT_GT(Theme::impactSaved(true).lightness(), Theme::impactSaved(false).lightness());
    EXPECT_GT(Theme::impactAmber(true).lightness(), Theme::impactAmber(false).lightness());

    for (const QPalette& palette : {light, dark}) {
        const int text = palette.color(QPalette::WindowText).lightness();
        const int background = palette.color(QPalette::Window).lightness();
        const int secondary = Theme::secondaryText(palette).lightness();
        EXPECT_GT(std::abs(secondary - background), 60) << "secondary text stays readable";
        EXPECT_LT(std::abs(secondary - background), std::abs(text - background))
            << "secondary text is quieter than the main text";
    }
}

TEST(Theme, TintedTextReachesAAContrastInLightAndDarkPalettes) {
    EXPECT_NEAR(Theme::contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(Theme::contrastRatio(QColor(119, 119, 119), Qt::white), 4.48, 0.01);

    QPalette light;
    light.setColor(QPalette::Window, QColor(239, 239, 239));
    light.setColor(QPalette::WindowText, Qt::black);
    QPalette white;
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    QPalette black;
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, Qt::white);

    // Every colour a text takes its tint from: the statuses', the warnings' orange, the pills'
    // green, and the accent.
    std::vector<QColor> tones = {Theme::orange(), Theme::green(), Theme::yellow(),
                                 Theme::blue(),   Theme::gray(),  Theme::brandAccent()};
    for (const GuardStatus status : allStatuses) {
        tones.push_back(Theme::statusColor(status));
    }
    const auto tinted = [](const QColor& tone, const QColor& window) {
        const double a = Theme::strongestTint;
        return QColor::fromRgbF(float(tone.redF() * a + window.redF() * (1 - a)),
                                float(tone.greenF() * a + window.greenF() * (1 - a)),
                                float(tone.blueF() * a + window.blueF() * (1 - a)));
    };
    for (const QPalette& palette : {light, white, dark, black}) {
        const QColor window = palette.color(QPalette::Window);
        for (const QColor& tone : tones) {
            SCOPED_TRACE(tone.name().toStdString() + " on " + window.name().toStdString());
            const QColor text = Theme::textTone(tone, palette);
            EXPECT_GE(Theme::contrastRatio(text, window), Theme::minimumTextContrast);
            EXPECT_GE(Theme::contrastRatio(text, tinted(tone, window)), Theme::minimumTextContrast)
                << "on the pill or banner tinted with the same tone";
            if (tone.hslSaturation() > 60) {
                const int turn = std::abs(text.hslHue() - tone.toHsl().hslHue());
                EXPECT_LE(std::min(turn, 360 - turn), 12) << "still reads as the same colour";
            }
        }
        EXPECT_GE(Theme::contrastRatio(Theme::secondaryText(palette), window),
                  Theme::minimumTextContrast)
            << "secondary text on " << window.name().toStdString();
    }
}

TEST(Icons, AgentRowsTakeTheIconThatTheApplicationsDesktopEntryNames) {
    stayloom::testing::TemporaryDirectory data;
    const QByteArray savedHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", QByteArray(data.path().c_str()));
    qputenv("XDG_DATA_DIRS", QByteArray((data.path() / "none").c_str()));

    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(QColor(220, 20, 20));
    const QString picture = QString::fromStdString((data.path() / "code.png").string());
    ASSERT_TRUE(red.save(picture));
    // Linux names the editor "code"; the agent catalogue knows it by its Mac identifier.
    data.write("applications/code.desktop",
               "[Desktop Entry]\nName=Code\nIcon=" + picture.toStdString() +
                   "\n[Desktop Action new]\n"
                   "Icon=elsewhere\n");
    data.write("applications/nameless.desktop", "[Desktop Entry]\nName=Nameless\n");
    data.write("applications/themeless.desktop",
               "[Desktop Entry]\nIcon=no-theme-has-this-icon-name\n");

    const auto editor = applicationIcon(
        "com.microsoft.vscode", linuxplatform::linuxNamesForBundleID("com.microsoft.vscode"));
    ASSERT_TRUE(editor.has_value());
    EXPECT_EQ(QColor(editor->pixmap(QSize(20, 20)).toImage().pixel(10, 10)), QColor(220, 20, 20));
    EXPECT_FALSE(desktopEntryIcon(QStringLiteral("nameless")).has_value());
    EXPECT_FALSE(desktopEntryIcon(QStringLiteral("themeless")).has_value())
        << "a name no theme draws is no icon; the row keeps its symbol";
    EXPECT_FALSE(desktopEntryIcon(QStringLiteral("not-installed")).has_value());
    EXPECT_FALSE(desktopEntryIcon(QStringLiteral("../code")).has_value());

    savedHome.isEmpty() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", savedHome);
    savedDirs.isEmpty() ? qunsetenv("XDG_DATA_DIRS") : qputenv("XDG_DATA_DIRS", savedDirs);
}

TEST(Icons, TheProgramsOwnIconShipsScalableAndSymbolic) {
    for (const bool symbolic : {false, true}) {
        SCOPED_TRACE(symbolic ? "symbolic" : "full colour");
        const QIcon icon = programIcon(symbolic);
        EXPECT_GT(opaquePixels(
                      icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32)),
                  400)
            << "draws at 48 px from the shipped SVG";
    }
}
