#pragma once

// Shared by the tests of the terms and first-run windows: finding controls by name, checking that
// a window's content is not clipped, writing screenshots under the build folder, and input that
// takes the same road as the desktop's (key presses through the window system interface, so
// shortcuts and focus behave as for a user).

#include "AppSupport/AppModelHarness.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

// QtGui's own entry for a key event from the window system.
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow* window, QEvent::Type type, int key,
                                    Qt::KeyboardModifiers modifiers, const QString& text,
                                    bool autorepeat, ushort count);

namespace stayloom::testing {

/// A started model over `harness`, whose timer stays quiet so that only the test ticks it.
inline std::unique_ptr<nodwarden::app::AppModel> startedModel(AppModelHarness& harness) {
    nodwarden::app::AppEnvironment environment = harness.environment();
    environment.firstTickDelay = 3600;
    environment.tickInterval = 3600;
    auto model = std::make_unique<nodwarden::app::AppModel>(std::move(environment));
    model->start();
    AppModelHarness::settle(*model);
    harness.windows.clearCalls();
    return model;
}

/// Shows `window`, makes it the active window and lets it settle.
inline void showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    for (int round = 0; round < 10 && QApplication::activeWindow() != &window; ++round) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(QApplication::activeWindow(), &window);
}

/// Presses and releases `key` in `window` as the desktop would deliver it.
inline void pressKey(QWidget& window, Qt::Key key,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QString text =
        key == Qt::Key_Return || key == Qt::Key_Enter ? QStringLiteral("\r") : QString();
    QWindow* handle = window.window()->windowHandle();
    ASSERT_NE(handle, nullptr) << "the window is not shown";
    qt_handleKeyEvent(handle, QEvent::KeyPress, key, modifiers, text, false, 1);
    qt_handleKeyEvent(handle, QEvent::KeyRelease, key, modifiers, text, false, 1);
    QApplication::processEvents();
}

/// Closes `window` the way the desktop does (its close button or shortcut), not as the program
/// would.
inline void closeFromDesktop(QWidget& window) {
    QWindow* handle = window.windowHandle();
    ASSERT_NE(handle, nullptr) << "the window is not shown";
    // The widget's native window turns a close it did not start itself into the desktop's close.
    QCloseEvent event;
    QApplication::sendEvent(handle, &event);
    QApplication::processEvents();
}

/// A left click on `widget`; nothing happens for a hidden or disabled one, as for
/// a user.
inline void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    // The middle of the part a button draws itself on: a check box wider than its label only
    // reacts on the indicator and the label.
    const QSize drawn = widget->size().boundedTo(widget->sizeHint());
    const QPointF centre(drawn.width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    if (!widget->isVisible() || !widget->isEnabled()) {
        return;
    }
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
    QApplication::processEvents();
}

/// The child of `root` called `name`; fails the test when there is none.
template <typename T> T* findNamed(const QWidget& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(found, nullptr) << "no control named " << name;
    return found;
}

/// Every button and every label showing a link carries an object name and an accessible name.
inline void expectNamedControls(const QWidget& window) {
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

/// Every visible label and button lies inside the window, and wrapped text gets the height it
/// needs at its width.
inline void expectContentFits(const QWidget& window) {
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

/// Renders `window` and stores it as build-folder/Tests/screenshots/`fileName`.
inline void saveScreenshot(QWidget& window, const QString& fileName) {
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QPixmap image = window.grab();
    ASSERT_EQ(image.size() / image.devicePixelRatio(), window.size());
    EXPECT_TRUE(image.save(folder + u'/' + fileName)) << fileName.toStdString();
}

} // namespace stayloom::testing
