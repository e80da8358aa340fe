#include <NodwardenApp/ui/panel/WarningRow.hpp>

#include <NodwardenApp/ui/panel/ClickableFrame.hpp>
#include <NodwardenApp/ui/panel/SymbolLabel.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace nodwarden::app {

WarningRow::WarningRow(const QString& objectName, bool clickable, QWidget* parent)
    : ClickableFrame(parent), message_(new QLabel(this)),
      hint_(makeSecondaryLabel(QString(), this)) {
    setObjectName(objectName);
    setAccessibleName(tr("Warning"));
    if (!clickable) {
        unsetCursor();
        setFocusPolicy(Qt::NoFocus);
    }
    message_->setWordWrap(true);
    hint_->setWordWrap(true);
    message_->setObjectName(objectName + QStringLiteral("Message"));
    hint_->setObjectName(objectName + QStringLiteral("Hint"));

    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(2);
    texts->addWidget(message_);
    texts->addWidget(hint_);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(8);
    layout->addWidget(
        new SymbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 16, Theme::orange(), this),
        0, Qt::AlignTop);
    layout->addLayout(texts, 1);
}

void WarningRow::setTexts(const QString& message, const QString& hint) {
    if (message_->text() != message) {
        message_->setText(message);
    }
    if (hint_->text() != hint) {
        hint_->setText(hint);
    }
    hint_->setVisible(!hint.isEmpty());
    setAccessibleName(message);
    setAccessibleDescription(hint);
}

QString WarningRow::message() const {
    return message_->text();
}

QString WarningRow::hint() const {
    return hint_->text();
}

void WarningRow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::withOpacity(Theme::orange(), hasFocus() ? 0.22 : 0.12));
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
    ClickableFrame::paintEvent(event);
}

} // namespace nodwarden::app
