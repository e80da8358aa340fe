#include <NodwardenApp/ui/panel/ImpactBand.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/ui/panel/ClickableFrame.hpp>
#include <NodwardenApp/ui/panel/ElidedLabel.hpp>
#include <NodwardenApp/ui/panel/SymbolLabel.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include <utility>

namespace nodwarden::app {

namespace {

// Below this much kept-awake time a protected figure makes the better headline.
constexpr double keptAwakeHeadlineThreshold = 180;
constexpr double recentRunWindow = 86400;

QString hoursText(double seconds, bool inWords) {
    return inWords ? QString::fromStdString(PanelTexts::statisticsDuration(seconds))
                   : QString::asprintf("%.1fh", seconds / 3600);
}

QHBoxLayout* rowLayout(QWidget* row) {
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    return layout;
}

} // namespace

QString ImpactBand::sinceText(Date installDate) {
    const QDate date =
        QDateTime::fromMSecsSinceEpoch(qint64(unixTimeFromDate(installDate) * 1000)).date();
    return tr("since\n%1").arg(QLocale().toString(date, QStringLiteral("MMM d, yyyy")));
}

ImpactBand::ImpactBand(AppModel& model, PanelClock clock, QWidget* parent)
    : ClickableFrame(parent), model_(model), clock_(std::move(clock)) {
    nameWidget(*this, QStringLiteral("impactBand"), tr("Time kept working"));
    setAccessibleDescription(tr("Opens the statistics"));
    const QColor amber = Theme::impactAmber(palette());
    const QColor saved = Theme::impactSaved(palette());

    emptyState_ = new QWidget(this);
    emptyState_->setObjectName(QStringLiteral("impactEmptyState"));
    {
        auto* layout = rowLayout(emptyState_);
        layout->addWidget(new SymbolLabel(QString::fromLatin1(cupMarkSymbol), 20, amber, this));
        auto* text = new QLabel(model_.wording().impactEmptyLine, this);
        text->setObjectName(QStringLiteral("impactEmptyText"));
        text->setWordWrap(true);
        layout->addWidget(text, 1);
    }

    recencyRow_ = new QWidget(this);
    recencyRow_->setObjectName(QStringLiteral("impactRecencyRow"));
    {
        auto* layout = rowLayout(recencyRow_);
        layout->addWidget(new SymbolLabel(QString::fromLatin1(cupMarkSymbol), 18, amber, this), 0,
                          Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        lastRunAgent_ = new ElidedLabel(this);
        lastRunAgent_->setObjectName(QStringLiteral("impactLastRunAgent"));
        lastRunDetail_ = makeSecondaryLabel(QString(), this);
        lastRunDetail_->setObjectName(QStringLiteral("impactLastRunDetail"));
        texts->addWidget(lastRunAgent_);
        texts->addWidget(lastRunDetail_);
        layout->addLayout(texts, 1);
    }
    recencyDivider_ = makeDivider(this, true);

    headlineRow_ = new QWidget(this);
    headlineRow_->setObjectName(QStringLiteral("impactHeadline"));
    {
        auto* layout = rowLayout(headlineRow_);
        headlineGlyph_ = new SymbolLabel(QString::fromLatin1(cupMarkSymbol), 22, amber, this);
        headlineFigure_ = new QLabel(this);
        headlineFigure_->setObjectName(QStringLiteral("impactHeadlineFigure"));
        QFont figureFont = headlineFigure_->font();
        figureFont.setBold(true);
        if (figureFont.pointSizeF() > 0) {
            figureFont.setPointSizeF(figureFont.pointSizeF() * 1.9);
        }
        headlineFigure_->setFont(figureFont);
        headlineCaption_ = new QLabel(this);
        headlineCaption_->setObjectName(QStringLiteral("impactHeadlineCaption"));
        headlineSince_ = makeSecondaryLabel(QString(), this, -2);
        headlineSince_->setObjectName(QStringLiteral("impactHeadlineSince"));
        headlineSince_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(headlineGlyph_);
        layout->addWidget(headlineFigure_);
        layout->addWidget(headlineCaption_, 0, Qt::AlignBottom);
        layout->addStretch(1);
        layout->addWidget(headlineSince_);
    }

    trophyRow_ = new QWidget(this);
    trophyRow_->setObjectName(QStringLiteral("impactTrophy"));
    {
        auto* layout = rowLayout(trophyRow_);
        layout->addWidget(new SymbolLabel(QStringLiteral("checkmark.seal.fill"), 16, saved, this));
        trophyText_ = new QLabel(this);
        trophyText_->setObjectName(QStringLiteral("impactTrophyText"));
        trophyText_->setWordWrap(true);
        layout->addWidget(trophyText_, 1);
        layout->addWidget(new SymbolLabel(QStringLiteral("chevron.right"), 12,
                                          Theme::secondaryText(palette()), this));
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(8);
    for (QWidget* part : {emptyState_, recencyRow_, static_cast<QWidget*>(recencyDivider_),
                          headlineRow_, trophyRow_}) {
        layout->addWidget(part);
    }

    connect(this, &ClickableFrame::activated, this,
            [this] { model_.openSettingsWindow(SettingsTab::stats); });
    refresh();
}

void ImpactBand::refresh() {
    const UsageMetrics& metrics = model_.metrics();
    const double protectedSeconds = metrics.totalProtectedSeconds();
    const double keptAwakeSeconds = metrics.totalKeptAwakeSeconds();
    const bool empty =
        protectedSeconds == 0 && keptAwakeSeconds == 0 && metrics.totalWorkSessions() == 0;

    emptyState_->setVisible(empty);
    headlineRow_->setVisible(!empty);
    trophyRow_->setVisible(!empty);

    const auto& lastRun = metrics.lastRun();
    const bool recent = !empty && lastRun && clock_() - lastRun->endedAt() < recentRunWindow;
    recencyRow_->setVisible(recent);
    recencyDivider_->setVisible(recent);
    if (empty) {
        return;
    }
    if (recent) {
        lastRunAgent_->setFullText(PanelTexts::panelLastRunAgent(model_));
        lastRunDetail_->setText(PanelTexts::panelLastRunDetail(model_));
    }

    const bool savedHeadline =
        keptAwakeSeconds < keptAwakeHeadlineThreshold && protectedSeconds > 0;
    if (savedHeadline) {
        headlineGlyph_->setSymbol(QStringLiteral("checkmark.seal.fill"),
                                  Theme::impactSaved(palette()));
        headlineFigure_->setText(hoursText(protectedSeconds, model_.wording().statisticsInWords));
        headlineCaption_->setText(model_.wording().protectedCaption);
    } else {
        headlineGlyph_->setSymbol(QString::fromLatin1(cupMarkSymbol),
                                  Theme::impactAmber(palette()));
        headlineFigure_->setText(hoursText(keptAwakeSeconds, model_.wording().statisticsInWords));
        headlineCaption_->setText(model_.wording().statisticsInWords ? tr("kept awake")
                                                                     : tr("kept working"));
    }
    headlineSince_->setText(sinceText(metrics.installDate()));
    trophyText_->setText(PanelTexts::panelTrulySavedText(model_));
    setAccessibleName(headlineFigure_->text() + QLatin1Char(' ') + headlineCaption_->text());
}

} // namespace nodwarden::app
