#pragma once

// Shared by the tests of the terms and first-run windows: finding controls by name, checking that
// a window's content is not clipped, writing screenshots under the build folder, and input that
// takes the same road as the desktop's (key presses through the window system interface, so
// shortcuts and focus behave as for a user).

#include "AppSupport/AppModelHarness.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace stayloom::testing {

/// A started model over `harness`, whose timer stays quiet so that only the test ticks it.
std::unique_ptr<nodwarden::app::AppModel> startedModel(AppModelHarness& harness);

/// Shows `window`, makes it the active window and lets it settle.
void showActive(QWidget& window);

/// Presses and releases `key` in `window` as the desktop would deliver it.
void pressKey(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

/// Types `text` into the focused control of `window`, one key press per character.
void typeText(QWidget& window, const QString& text);

/// Closes `window` the way the desktop does (its close button or shortcut), not as the program
/// would.
void closeFromDesktop(QWidget& window);

/// A left click at `point` inside `widget`, delivered as the window system would.
void clickAt(QWidget* widget, QPointF point);

/// A left click on `widget`; nothing happens for a hidden or disabled one, as for a user.
void click(QWidget* widget);

/// The child of `root` called `name`; fails the test when there is none.
template <typename T> T* findNamed(const QWidget& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(found, nullptr) << "no control named " << name;
    return found;
}

/// Every button and every label showing a link carries an object name and an accessible name.
void expectNamedControls(const QWidget& window);

/// Every visible label and button lies inside the window, and wrapped text gets the height it
/// needs at its width.
void expectContentFits(const QWidget& window);

/// The contrast a rendered text shows in `area` of `image`: its most contrasting pixel against
/// the area's most common colour, the background it sits on.
double shownContrast(const QImage& image, const QRect& area);

/// Every visible label's text, as `window` renders it, reads at `Theme::minimumTextContrast`
/// against what lies behind it: a colour a style greys out or a palette too pale shows here.
void expectReadableTexts(QWidget& window);

/// Renders `window` and stores it as build-folder/Tests/screenshots/`fileName`.
void saveScreenshot(QWidget& window, const QString& fileName);

} // namespace stayloom::testing
