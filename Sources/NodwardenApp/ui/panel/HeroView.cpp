#include <NodwardenApp/ui/panel/HeroView.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <utility>

namespace nodwarden::app {

namespace {

constexpr int circleSize = 44;
constexpr int glyphSize = 22;

} // namespace

/// The tinted circle with the status glyph.
class HeroCircle : public QWidget {
public:
    explicit HeroCircle(QWidget* parent) : QWidget(parent) {
        setFixedSize(circleSize, circleSize);
        nameWidget(*this, QStringLiteral("heroGlyph"), QString());
    }

    /// `spoken` is what a screen reader says for the circle, never the symbol's name.
    void setGlyph(const QString& glyph, const QColor& color, const QString& spoken) {
        setAccessibleName(spoken);
        if (glyph == glyph_ && color == color_) {
            return;
        }
        glyph_ = glyph;
        color_ = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::withOpacity(color_, 0.16));
        painter.drawEllipse(rect());
        const QRect glyphRect((width() - glyphSize) / 2, (height() - glyphSize) / 2, glyphSize,
                              glyphSize);
        symbolIcon(glyph_, color_).paint(&painter, glyphRect);
    }

private:
    QString glyph_;
    QColor color_;
};

HeroView::HeroView(AppModel& model, PanelClock clock, QWidget* parent)
    : QWidget(parent), model_(model), clock_(std::move(clock)), circle_(new HeroCircle(this)),
      statusLabel_(new QLabel(this)), elapsedLabel_(new QLabel(this)),
      reasonLabel_(makeSecondaryLabel(QString(), this)), elapsedTimer_(new QTimer(this)) {
    nameWidget(*this, QStringLiteral("heroView"), tr("Status"));
    nameWidget(*statusLabel_, QStringLiteral("heroStatusLabel"), tr("Status"));
    nameWidget(*elapsedLabel_, QStringLiteral("heroElapsedLabel"), tr("Time kept awake"));
    nameWidget(*reasonLabel_, QStringLiteral("heroReasonLabel"), tr("Reason"));

    QFont titleFont = statusLabel_->font();
    titleFont.setBold(true);
    if (titleFont.pointSizeF() > 0) {
        titleFont.setPointSizeF(titleFont.pointSizeF() + 3);
    }
    statusLabel_->setFont(titleFont);
    elapsedLabel_->setFont(titleFont);
    reasonLabel_->setWordWrap(true);

    auto* titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(0, 0, 0, 0);
    titleRow->setSpacing(5);
    titleRow->addWidget(statusLabel_);
    titleRow->addWidget(elapsedLabel_);
    titleRow->addStretch(1);

    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(2);
    texts->addLayout(titleRow);
    texts->addWidget(reasonLabel_);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(circle_, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);

    elapsedTimer_->setObjectName(QStringLiteral("heroElapsedTimer"));
    elapsedTimer_->setInterval(1000);
    connect(elapsedTimer_, &QTimer::timeout, this, &HeroView::refreshElapsed);
    refresh();
}

void HeroView::refresh() {
    const GuardStatus status = model_.published().status();
    const QColor color = Theme::statusColor(status);
    const QString title = ReasonTexts::statusName(status, model_.wording());
    circle_->setGlyph(model_.published().heroGlyph(), color, tr("Status: %1").arg(title.toLower()));
    if (statusLabel_->text() != title) {
        statusLabel_->setText(title);
    }
    if (reasonLabel_->text() != model_.published().statusReason()) {
        reasonLabel_->setText(model_.published().statusReason());
    }
    reasonLabel_->setVisible(!model_.published().statusReason().isEmpty());
    setTextColor(*elapsedLabel_, Theme::textTone(color, palette()));
    refreshElapsed();
}

void HeroView::refreshElapsed() {
    // What lies ahead counts down; a hold with no end counts up.
    QString text;
    if (const auto graceEnds = model_.graceEndsAt()) {
        text = panelText(PanelTexts::graceCountdown(*graceEnds - clock_()));
    } else if (const auto until = model_.timedKeepAwake().until();
               until && model_.mode() == AppMode::manualKeepAwake) {
        // The end's clock time is in the tooltip and `status`; the title has room for what is left.
        text = tr("%1 left").arg(panelText(PanelTexts::timeLeft(*until - clock_())));
    } else if (const auto since = model_.sleepCommands().guardingSince()) {
        text = panelText(PanelTexts::elapsedShort(clock_() - *since));
    }
    elapsedLabel_->setVisible(!text.isEmpty());
    // Redrawn each second only while something counts: an idle panel left open must not wake
    // the program every second for nothing.
    if (text.isEmpty()) {
        elapsedTimer_->stop();
        elapsedLabel_->clear();
        return;
    }
    if (isVisible() && !elapsedTimer_->isActive()) {
        elapsedTimer_->start();
    }
    text = QStringLiteral("· ") + text;
    if (elapsedLabel_->text() != text) {
        elapsedLabel_->setText(text);
    }
}

void HeroView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshElapsed();
}

void HeroView::hideEvent(QHideEvent* event) {
    elapsedTimer_->stop();
    QWidget::hideEvent(event);
}

} // namespace nodwarden::app
