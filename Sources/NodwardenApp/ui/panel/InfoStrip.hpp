#pragma once

#include <QWidget>

class QLabel;

namespace nodwarden::app {

class AppModel;
class SymbolLabel;

/// Three power facts side by side: the power source with the battery charge, whether sleep is
/// blocked, and the lid state.
class InfoStrip : public QWidget {
    Q_OBJECT
public:
    explicit InfoStrip(AppModel& model, QWidget* parent = nullptr);

    void refresh();

private:
    /// One fact: its glyph, its value and the caption that names it, read out together.
    struct Fact {
        SymbolLabel* symbol;
        QLabel* value;
        QLabel* caption;
    };
    Fact addFact(const QString& objectName, const QString& caption);
    static void show(Fact& fact, const QString& symbol, const QString& value, const QColor& tint);

    AppModel& model_;
    Fact power_{};
    Fact sleep_{};
    Fact lid_{};
};

} // namespace nodwarden::app
