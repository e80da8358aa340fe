#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

#include <NodwardenApp/ui/theme/Theme.hpp>

#include <chrono>

namespace nodwarden::app {

Date systemDate() {
    using namespace std::chrono;
    return dateFromUnixTime(duration<double>(system_clock::now().time_since_epoch()).count());
}

QString panelText(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QLabel* makeSecondaryLabel(const QString& text, QWidget* parent, int pointSizeDelta) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    if (pointSizeDelta != 0 && font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() + pointSizeDelta);
    }
    label->setFont(font);
    setTextColor(*label, Theme::secondaryText(label->palette()));
    return label;
}

void setTextColor(QLabel& label, const QColor& color) {
    QPalette palette = label.palette();
    if (palette.color(QPalette::WindowText) == color) {
        return;
    }
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label.setPalette(palette);
}

QFrame* makeDivider(QWidget* parent, bool faint) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(faint ? 0.08f : 0.16f);
    palette.setColor(QPalette::Window, color);
    line->setPalette(palette);
    return line;
}

void nameWidget(QWidget& widget, const QString& objectName, const QString& accessibleName) {
    widget.setObjectName(objectName);
    widget.setAccessibleName(accessibleName);
}

} // namespace nodwarden::app
