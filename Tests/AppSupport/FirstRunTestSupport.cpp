#include "AppSupport/FirstRunTestSupport.hpp"

#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QCloseEvent>
#include <QDir>
#include <QImage>
#include <QMouseEvent>

#include <algorithm>
#include <map>

// QtGui's own entry for a key event from the window system.
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow* window, QEvent::Type type, int key,
                                    Qt::KeyboardModifiers modifiers, const QString& text,
                                    bool autorepeat, ushort count);

namespace stayloom::testing {

namespace {

void sendKey(QWindow* handle, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    qt_handleKeyEvent(handle, QEvent::KeyPress, key, modifiers, text, false, 1);
    qt_handleKeyEvent(handle, QEvent::KeyRelease, key, modifiers, text, false, 1);
}

} // namespace

std::unique_ptr<nodwarden::app::AppModel> startedModel(AppModelHarness& harness) {
    nodwarden::app::AppEnvironment environment = harness.environment();
    environment.firstTickDelay = 3600;
    environment.tickInterval = 3600;
    auto model = std::make_unique<nodwarden::app::AppModel>(std::move(environment));
    model->start();
    AppModelHarness::settle(*model);
    harness.windows.clearCalls();
    return model;
}

void showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    for (int round = 0; round < 10 && QApplication::activeWindow() != &window; ++round) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(QApplication::activeWindow(), &window);
}

void pressKey(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QWindow* handle = window.window()->windowHandle();
    ASSERT_NE(handle, nullptr) << "the window is not shown";
    sendKey(handle, key, modifiers,
            key == Qt::Key_Return || key == Qt::Key_Enter ? QStringLiteral("\r") : QString());
    QApplication::processEvents();
}

void typeText(QWidget& window, const QString& text) {
    QWindow* handle = window.window()->windowHandle();
    ASSERT_NE(handle, nullptr) << "the window is not shown";
    for (const QChar character : text) {
        sendKey(handle, character.toUpper().unicode(), Qt::NoModifier, QString(character));
    }
    QApplication::processEvents();
}

void closeFromDesktop(QWidget& window) {
    QWindow* handle = window.windowHandle();
    ASSERT_NE(handle, nullptr) << "the window is not shown";
    // The widget's native window turns a close it did not start itself into the desktop's close.
    QCloseEvent event;
    QApplication::sendEvent(handle, &event);
    QApplication::processEvents();
}

void clickAt(QWidget* widget, QPointF point) {
    ASSERT_NE(widget, nullptr);
    const QPointF global = widget->mapToGlobal(point);
    QMouseEvent press(QEvent::MouseButtonPress, point, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, point, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
    QApplication::processEvents();
}

void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    if (!widget->isVisible() || !widget->isEnabled()) {
        return;
    }
    // The middle of the part a button draws itself on: a check box wider than its label only
    // reacts on the indicator and the label.
    const QSize drawn = widget->size().boundedTo(widget->sizeHint());
    clickAt(widget, QPointF(drawn.width() / 2.0, widget->height() / 2.0));
}

void expectNamedControls(const QWidget& window) {
    EXPECT_FALSE(window.objectName().isEmpty());
    EXPECT_FALSE(window.accessibleName().isEmpty());
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<const QLabel*>(widget);
        const bool control = qobject_cast<const QAbstractButton*>(widget) != nullptr ||
                             (label && label->text().contains(QStringLiteral("href")));
        if (!control) {
            continue;
        }
        EXPECT_FALSE(widget->objectName().isEmpty()) << widget->metaObject()->className();
        EXPECT_FALSE(widget->accessibleName().isEmpty())
            << widget->objectName().toStdString() << " has no accessible name";
    }
}

void expectContentFits(const QWidget& window) {
    const QRect bounds = window.rect();
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window) || (!qobject_cast<const QLabel*>(widget) &&
                                              !qobject_cast<const QAbstractButton*>(widget))) {
            continue;
        }
        const QRect area(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        EXPECT_TRUE(bounds.contains(area))
            << widget->objectName().toStdString() << " lies outside the window";
        const auto* label = qobject_cast<const QLabel*>(widget);
        if (label && label->wordWrap() && !label->text().isEmpty()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                << label->objectName().toStdString() << " is cut off";
        } else if (label && !label->text().isEmpty()) {
            // A line that does not wrap is cut off where its window is narrower than it.
            EXPECT_GE(label->width(), label->sizeHint().width())
                << label->objectName().toStdString() << " is cut off";
        }
    }
}

void saveScreenshot(QWidget& window, const QString& fileName) {
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QPixmap image = window.grab();
    ASSERT_EQ(image.size() / image.devicePixelRatio(), window.size());
    EXPECT_TRUE(image.save(folder + u'/' + fileName)) << fileName.toStdString();
}

double shownContrast(const QImage& image, const QRect& area) {
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[image.pixel(x, y) | 0xff000000u];
        }
    }
    if (counts.empty()) {
        return 0;
    }
    const QColor background(
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first);
    double strongest = 1;
    for (const auto& [rgb, count] : counts) {
        strongest =
            std::max(strongest, nodwarden::app::Theme::contrastRatio(QColor(rgb), background));
    }
    return strongest;
}

void expectReadableTexts(QWidget& window) {
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal ratio = image.devicePixelRatio();
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window) || label->text().trimmed().isEmpty()) {
            continue;
        }
        const QRect area(label->mapTo(&window, label->contentsRect().topLeft()) * ratio,
                         label->contentsRect().size() * ratio);
        EXPECT_GE(shownContrast(image, area.intersected(image.rect())),
                  nodwarden::app::Theme::minimumTextContrast)
            << label->objectName().toStdString() << ": " << label->text().toStdString();
    }
}

} // namespace stayloom::testing
