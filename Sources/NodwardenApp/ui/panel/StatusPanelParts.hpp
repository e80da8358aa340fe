#pragma once

#include <NodwardenCore/model/Date.hpp>

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QString>

#include <functional>
#include <string_view>

namespace nodwarden::app {

/// The current time as the panel sees it; the program passes the system clock, tests their own.
using PanelClock = std::function<Date()>;

/// The system clock as a `Date`.
Date systemDate();

/// A UTF-8 text of the model as a `QString`.
QString panelText(std::string_view text);

/// A label in the palette's secondary text colour at `pointSizeDelta` from the normal size.
QLabel* makeSecondaryLabel(const QString& text, QWidget* parent, int pointSizeDelta = -1);

/// Sets `label`'s text colour.
void setTextColor(QLabel& label, const QColor& color);

/// A thin horizontal rule; `faint` makes it lighter still.
QFrame* makeDivider(QWidget* parent, bool faint = false);

/// Gives `widget` both its object name and its accessible name.
void nameWidget(QWidget& widget, const QString& objectName, const QString& accessibleName);

} // namespace nodwarden::app
