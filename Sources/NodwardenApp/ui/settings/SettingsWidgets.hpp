#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSlider;
class QVBoxLayout;

namespace nodwarden::app {

/// A titled box with a symbol beside its title; children go into `content()`.
class SettingsBox : public QFrame {
    Q_OBJECT
public:
    SettingsBox(const QString& title, const QString& symbolName, const QString& objectName,
                QWidget* parent = nullptr);

    QVBoxLayout* content() const { return content_; }
    /// Replaces the symbol beside the title (the live status icon of the state box); the brand
    /// accent colours it unless `color` is given.
    void setSymbol(const QString& symbolName, const QColor& color = QColor());
    const QString& symbol() const { return symbol_; }

private:
    QLabel* icon_;
    QVBoxLayout* content_;
    QString symbol_;
    QColor symbolColor_;
};

/// A title with the value as a whole number and "%", a 0–100 slider moving in steps of 5, the
/// scale "0", "50", "100" and an optional help line. Children are named `<baseName>Slider` and
/// `<baseName>Value`.
class PercentageSliderRow : public QWidget {
    Q_OBJECT
public:
    PercentageSliderRow(const QString& title, const QString& help, const QString& baseName,
                        QWidget* parent = nullptr);

    /// Shows `percent` without reporting an edit.
    void setValue(double percent);
    /// Called with the new whole percentage each time the user moves the slider.
    std::function<void(int)> onEdited;

private:
    QLabel* value_;
    QSlider* slider_;
};

/// A title with the value in whole seconds and " sec", a 10–900 second slider moving in steps of
/// 5, and the scale "10 sec" and "15 min". Children are named `<baseName>Slider` and
/// `<baseName>Value`.
class DurationSliderRow : public QWidget {
    Q_OBJECT
public:
    DurationSliderRow(const QString& title, const QString& baseName, QWidget* parent = nullptr);

    /// Shows `seconds` without reporting an edit.
    void setValue(double seconds);
    /// Called with the new number of seconds each time the user moves the slider.
    std::function<void(double)> onEdited;

    static constexpr int minimumSeconds = 10;
    static constexpr int maximumSeconds = 900;
    static constexpr int step = 5;

private:
    QLabel* value_;
    QSlider* slider_;
};

namespace SettingsUi {

/// A word-wrapped label with an object and accessible name.
QLabel* label(const QString& text, const QString& objectName, QWidget* parent = nullptr);
/// A word-wrapped label in small secondary type.
QLabel* note(const QString& text, const QString& objectName, QWidget* parent = nullptr);
QCheckBox* checkBox(const QString& text, const QString& objectName, QWidget* parent = nullptr);
QPushButton* button(const QString& text, const QString& objectName, QWidget* parent = nullptr);
/// A small icon label showing `symbolName`, in the brand accent unless `color` is given.
QLabel* symbol(const QString& symbolName, QWidget* parent = nullptr, int size = 16,
               const QColor& color = QColor());
/// A scrolling container for one tab's content; the content keeps its width.
QScrollArea* pane(QWidget* content, const QString& objectName);
/// A thin horizontal line.
QFrame* divider(QWidget* parent = nullptr);

} // namespace SettingsUi
} // namespace nodwarden::app
