#include "AppSupport/FirstRunTestSupport.hpp"
#include "Support/ScopedEnvironmentVariable.hpp"

#include <NodwardenApp/model/LegalDocuments.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/ui/firstrun/LegalDocumentWindow.hpp>
#include <NodwardenApp/ui/firstrun/LegalWindow.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <QFile>
#include <QImage>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::findNamed;
using stayloom::testing::ScopedEnvironmentVariable;

namespace {

const QString website = QStringLiteral("https://stayloom.test");

/// A model that still waits for the terms, and its terms window on screen.
struct LegalFixture {
    LegalFixture() : model(stayloom::testing::startedModel(harness)), window(*model, website) {
        stayloom::testing::showActive(window);
    }

    std::optional<QString> storedVersion() {
        const QVariant value = harness.reopenDefaults()->value(
            QString::fromUtf8(StoredKeys::acceptedLegalVersion.data()));
        return value.isValid() ? std::optional(value.toString()) : std::nullopt;
    }

    long acceptanceLines() {
        const auto lines = harness.logged();
        return std::count(lines.begin(), lines.end(),
                          "Accepted legal v" + harness.wording->legalVersion.toStdString());
    }

    AppModelHarness harness;
    std::unique_ptr<AppModel> model;
    LegalWindow window;
};

} // namespace

TEST(LegalWindow, ReturnOrEnterAcceptsWhereverTheFocusIs) {
    const struct {
        Qt::Key key;
        const char* focus;
    } cases[] = {
        {Qt::Key_Return, "agreeButton"},
        {Qt::Key_Enter, "agreeButton"},
        {Qt::Key_Return, "quitButton"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.focus);
        LegalFixture fixture;
        ASSERT_TRUE(fixture.model->firstRun().needsLegalAcceptance());
        findNamed<QPushButton>(fixture.window, testCase.focus)->setFocus();

        stayloom::testing::pressKey(fixture.window, testCase.key);

        EXPECT_FALSE(fixture.model->firstRun().needsLegalAcceptance());
        EXPECT_EQ(fixture.storedVersion(), fixture.harness.wording->legalVersion);
        EXPECT_EQ(fixture.acceptanceLines(), 1);
        const auto calls = fixture.harness.windows.calls();
        EXPECT_NE(std::find(calls.begin(), calls.end(), "closeLegalWindow"), calls.end());
    }
}

TEST(LegalWindow, AgreeButtonAcceptsOnceEvenWhenPressedAgain) {
    LegalFixture fixture;
    auto* agree = findNamed<QPushButton>(fixture.window, "agreeButton");
    EXPECT_TRUE(agree->isDefault());

    stayloom::testing::click(agree);
    stayloom::testing::pressKey(fixture.window, Qt::Key_Return);

    EXPECT_FALSE(fixture.model->firstRun().needsLegalAcceptance());
    EXPECT_EQ(fixture.acceptanceLines(), 1) << "the window outlived the first acceptance";
}

TEST(LegalWindow, HasATitleBarButNoCloseButton) {
    LegalFixture fixture;
    const Qt::WindowFlags flags = fixture.window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint)) << "without it the desktop adds its own";
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(fixture.window.windowTitle(), QStringLiteral("Welcome to Stayloom"));
    stayloom::testing::expectNamedControls(fixture.window);
}

TEST(LegalWindow, TheDesktopCannotCloseItUntilTheTermsAreAccepted) {
    LegalFixture fixture;

    stayloom::testing::closeFromDesktop(fixture.window);
    EXPECT_TRUE(fixture.window.isVisible());
    EXPECT_TRUE(fixture.model->firstRun().needsLegalAcceptance());
    EXPECT_FALSE(fixture.storedVersion().has_value());

    fixture.model->acceptLegal();
    EXPECT_TRUE(fixture.window.close()) << "the program closes it once the terms are accepted";
    EXPECT_FALSE(fixture.window.isVisible());
}

TEST(LegalWindow, QuitEndsTheProgramWithoutAcceptingEvenWhileTheWindowIsUp) {
    LegalFixture fixture;
    auto* quit = findNamed<QPushButton>(fixture.window, "quitButton");

    QTimer::singleShot(0, quit, [quit] { stayloom::testing::click(quit); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &giveUp, [] { QCoreApplication::exit(1); });
    giveUp.start(15000);

    EXPECT_EQ(QApplication::exec(), 0) << "the quit request did not end the event loop";
    EXPECT_TRUE(fixture.model->firstRun().needsLegalAcceptance());
    EXPECT_FALSE(fixture.storedVersion().has_value());
}

TEST(LegalWindow, LinksPointAtTheThreeDocumentsUnderTheWebSite) {
    for (const QString& base : {website, QString(website + u'/')}) {
        SCOPED_TRACE(base.toStdString());
        AppModelHarness harness;
        auto model = harness.makeModel();
        LegalWindow window(*model, base);

        const struct {
            const char* name;
            QString text;
            QString address;
        } links[] = {
            {"eulaLink", QStringLiteral("EULA"), website + QStringLiteral("/eula.html")},
            {"privacyPolicyLink", QStringLiteral("Privacy Policy"),
             website + QStringLiteral("/privacy.html")},
            {"termsLink", QStringLiteral("Terms"), website + QStringLiteral("/terms.html")},
        };
        for (const auto& link : links) {
            auto* label = findNamed<QLabel>(window, link.name);
            ASSERT_NE(label, nullptr);
            EXPECT_TRUE(label->openExternalLinks());
            EXPECT_TRUE(label->text().contains(QStringLiteral("href=\"") + link.address + u'"'))
                << label->text().toStdString();
            EXPECT_EQ(label->accessibleName(), link.text);
        }
    }
}

TEST(LegalWindow, WithoutAWebSiteTheLinksOpenTheShippedDocumentsOffline) {
    AppModelHarness harness;
    auto model = harness.makeModel();
    LegalWindow window(*model, QString());

    for (const LegalDocuments::Document& document : LegalDocuments::all()) {
        SCOPED_TRACE(document.text.toStdString());
        auto* label = findNamed<QLabel>(window, document.objectName.toUtf8().constData());
        ASSERT_NE(label, nullptr);
        EXPECT_FALSE(label->openExternalLinks()) << "shown by the program, not a browser";
        const QUrl address(label->accessibleDescription());
        ASSERT_TRUE(address.isLocalFile()) << address.toString().toStdString();
        QFile copy(address.toLocalFile());
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly)) << "a browser or terminal can open it too";
        EXPECT_EQ(QString::fromUtf8(copy.readAll()), LegalDocuments::html(document));
        EXPECT_TRUE(LegalDocuments::html(document).contains(QStringLiteral("Version ") +
                                                            model->wording().legalVersion));
    }

    auto* privacy = findNamed<QLabel>(window, "privacyPolicyLink");
    emit privacy->linkActivated(privacy->accessibleDescription());
    LegalDocumentWindow* shown = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* candidate = qobject_cast<LegalDocumentWindow*>(widget)) {
            shown = candidate;
        }
    }
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->windowTitle(), QStringLiteral("Privacy Policy"));
    const QString text = shown->browser().toPlainText();
    for (const char* read : {"sessions/<pid>.json", "open-sessions-state.json", "Codex rollout",
                             "OpenCode", "tmux panes", "no network connections"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(read))) << "the policy names " << read;
    }
    // Its link to the terms stays inside the program.
    emit shown->browser().anchorClicked(QUrl(QStringLiteral("terms.html")));
    EXPECT_TRUE(shown->browser().toPlainText().contains(QStringLiteral("Terms of Use")));

    // Esc and Ctrl+W close it, as they close the desktop's other document windows.
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Escape, Qt::KeyboardModifiers(Qt::NoModifier)},
          std::pair{Qt::Key_W, Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
        emit privacy->linkActivated(privacy->accessibleDescription());
        QPointer<LegalDocumentWindow> document;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* candidate = qobject_cast<LegalDocumentWindow*>(widget)) {
                document = candidate;
            }
        }
        ASSERT_FALSE(document.isNull());
        stayloom::testing::showActive(*document);
        document->browser().setFocus();
        stayloom::testing::pressKey(*document, key, modifiers);
        EXPECT_TRUE(document.isNull() || !document->isVisible()) << key;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(document.isNull()) << "closing it let it go";
    }
}

TEST(LegalWindow, TheCachedCopyReplacesALinkInItsPlaceAndNeverWritesThroughIt) {
    stayloom::testing::TemporaryDirectory root;
    const auto cache = root.path() / "cache";
    const auto folder = cache / "stayloom" / "legal";
    std::filesystem::create_directories(folder);
    const auto target = root.path() / "precious.html";
    std::ofstream(target) << "keep me";
    const LegalDocuments::Document& terms = LegalDocuments::all().back();
    const auto copy = folder / terms.fileName.toStdString();
    std::filesystem::create_symlink(target, copy);
    QString path;
    {
        const ScopedEnvironmentVariable cacheHome("XDG_CACHE_HOME", cache.string());
        // No installed copy is found instead of the cached one.
        const ScopedEnvironmentVariable dataDirs("XDG_DATA_DIRS", (root.path() / "none").string());
        const ScopedEnvironmentVariable dataHome("XDG_DATA_HOME", (root.path() / "none").string());
        path = LegalDocuments::localFile(terms);
    }
    EXPECT_EQ(path.toStdString(), copy.string());
    EXPECT_EQ(stayloom::testing::readFile(target), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(copy));
    EXPECT_EQ(QString::fromStdString(stayloom::testing::readFile(copy)),
              LegalDocuments::html(terms));
}

TEST(LegalWindow, AChangedPrivacyTextIsAskedForAgain) {
    AppModelHarness harness;
    // Accepted before the policy named the agents' status records and terminal panes.
    harness.defaults->setValue(QString::fromUtf8(StoredKeys::acceptedLegalVersion.data()),
                               QString::fromUtf8(Legal::currentVersion.data()));
    auto model = stayloom::testing::startedModel(harness);
    ASSERT_NE(harness.wording->legalVersion, QString::fromUtf8(Legal::currentVersion.data()));
    EXPECT_TRUE(model->firstRun().needsLegalAcceptance());

    model->acceptLegal();
    EXPECT_EQ(harness.reopenDefaults()
                  ->value(QString::fromUtf8(StoredKeys::acceptedLegalVersion.data()))
                  .toString(),
              harness.wording->legalVersion);
    EXPECT_TRUE(
        harness.loggedLine("Accepted legal v" + harness.wording->legalVersion.toStdString()));
}

TEST(LegalWindow, ScreenshotShowsEverythingUnclipped) {
    LegalFixture fixture;
    EXPECT_LE(fixture.window.height(), 560) << "fitted to its content within the planned size";
    stayloom::testing::expectContentFits(fixture.window);
    stayloom::testing::expectReadableTexts(fixture.window);
    stayloom::testing::saveScreenshot(fixture.window, QStringLiteral("firstrun-legal.png"));
}

TEST(LegalWindow, TabReachesEachLinkOnceWithAVisibleFocusAndSpaceOpensIt) {
    AppModelHarness harness;
    auto model = stayloom::testing::startedModel(harness);
    LegalWindow window(*model, QString());
    stayloom::testing::showActive(window);
    const std::vector<std::string> links = {"eulaLink", "privacyPolicyLink", "termsLink"};

    // Once around the window, from wherever the focus starts.
    std::vector<QWidget*> stops;
    QWidget* start = QApplication::focusWidget();
    ASSERT_NE(start, nullptr);
    for (int press = 0; press < 20; ++press) {
        stayloom::testing::pressKey(window, Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        if (focused == start) {
            break;
        }
        stops.push_back(focused);
    }
    for (const std::string& name : links) {
        SCOPED_TRACE(name);
        auto* link = findNamed<QLabel>(window, name.c_str());
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(std::count(stops.begin(), stops.end(), link), 1) << "one Tab stop per link";

        // The focus shows: the focused link is drawn with a ring it lacks otherwise, in a colour
        // that stands out from the window.
        link->setFocus(Qt::TabFocusReason);
        const QImage focused = link->grab().toImage().convertToFormat(QImage::Format_RGB32);
        window.setFocus(Qt::OtherFocusReason);
        const QImage unfocused = link->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_NE(focused, unfocused) << "no visible focus";
        const QColor background = window.palette().color(QPalette::Window);
        double ring = 1;
        for (int y = 0; y < focused.height(); ++y) {
            for (int x = 0; x < focused.width(); ++x) {
                if (focused.pixel(x, y) != unfocused.pixel(x, y)) {
                    ring = std::max(ring,
                                    Theme::contrastRatio(QColor(focused.pixel(x, y)), background));
                }
            }
        }
        EXPECT_GE(ring, 3.0) << "the focus ring against the window";
    }

    // Space on a focused link opens its document here, and the terms stay unaccepted.
    findNamed<QLabel>(window, "privacyPolicyLink")->setFocus(Qt::TabFocusReason);
    stayloom::testing::pressKey(window, Qt::Key_Space);
    bool opened = false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* document = qobject_cast<LegalDocumentWindow*>(widget)) {
            opened = opened || document->windowTitle() == QStringLiteral("Privacy Policy");
        }
    }
    EXPECT_TRUE(opened);
    EXPECT_TRUE(model->firstRun().needsLegalAcceptance());
}
