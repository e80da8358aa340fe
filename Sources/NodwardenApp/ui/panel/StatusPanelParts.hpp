#pragma once

#include <NodwardenCore/Date.hpp>

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QString>

#include <functional>
#include <string_view>

class QBoxLayout;

namespace nodwarden::app {

/// The current time as the panel sees it; the program passes the system clock, tests their own.
using PanelClock = std::function<Date()>;

/// The system clock as a `Date`.
Date systemDate();

/// A UTF-8 text of the model as a `QString`.
QString panelText(std::string_view text);

/// A label showing one symbol at `size` pixels in `color`; recolourable later.
class SymbolLabel : public QLabel {
    Q_OBJECT
public:
    SymbolLabel(const QString& symbolName, int size, const QColor& color,
                QWidget* parent = nullptr);
    /// Redraws only when something changed.
    void setSymbol(const QString& symbolName, const QColor& color);
    const QString& symbolName() const { return symbolName_; }
    const QColor& color() const { return color_; }

private:
    QString symbolName_;
    QColor color_;
    int size_;
};

/// A one-line label that cuts its text with "…" at the end when the space runs out; `text()`
/// keeps the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString fullText_;
};

/// A frame that runs `activated` when clicked or when Return/Space is pressed while focused:
/// the clickable rows of the panel.
class ClickableFrame : public QFrame {
    Q_OBJECT
public:
    explicit ClickableFrame(QWidget* parent = nullptr);

signals:
    void activated();

protected:
    void mousePressEvent(class QMouseEvent* event) override;
    void mouseReleaseEvent(class QMouseEvent* event) override;
    void keyPressEvent(class QKeyEvent* event) override;
};

/// A label in the palette's secondary text colour at `pointSizeDelta` from the normal size.
QLabel* makeSecondaryLabel(const QString& text, QWidget* parent, int pointSizeDelta = -1);

/// Sets `label`'s text colour.
void setTextColor(QLabel& label, const QColor& color);

/// A thin horizontal rule; `faint` makes it lighter still.
QFrame* makeDivider(QWidget* parent, bool faint = false);

/// Gives `widget` both its object name and its accessible name.
void nameWidget(QWidget& widget, const QString& objectName, const QString& accessibleName);

} // namespace nodwarden::app
