#include <NodwardenApp/ui/panel/SymbolLabel.hpp>

#include <NodwardenApp/ui/theme/Icons.hpp>

namespace nodwarden::app {

SymbolLabel::SymbolLabel(const QString& symbolName, int size, const QColor& color, QWidget* parent)
    : QLabel(parent), size_(size) {
    setFixedSize(size, size);
    setAlignment(Qt::AlignCenter);
    setSymbol(symbolName, color);
}

void SymbolLabel::setSymbol(const QString& symbolName, const QColor& color) {
    if (symbolName == symbolName_ && color == color_ && !pixmap().isNull()) {
        return;
    }
    symbolName_ = symbolName;
    color_ = color;
    setPixmap(symbolIcon(symbolName, color).pixmap(QSize(size_, size_)));
}

} // namespace nodwarden::app
