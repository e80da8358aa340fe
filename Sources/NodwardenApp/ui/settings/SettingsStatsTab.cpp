#include "SettingsStatsTab.hpp"

#include "SettingsEditing.hpp"
#include "SettingsStyle.hpp"
#include "SettingsWidgets.hpp"
#include "TrendChart.hpp"
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <NodwardenApp/model/AgentRows.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace nodwarden::app {

namespace {

// The 6-point bar of an agent row, drawn at a share of its width.
class ShareBar : public QWidget {
public:
    ShareBar(double fraction, QWidget* parent) : QWidget(parent), fraction_(fraction) {
        setFixedHeight(6);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (fraction_ <= 0) {
            return;
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(SettingsStyle::impactSaved(*this));
        painter.drawRoundedRect(QRectF(0, 0, width() * fraction_, height()), 3, 3);
    }

private:
    double fraction_;
};

QLabel* semibold(QLabel* label, double scale = 1.0) {
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    return label;
}

QWidget* legendItem(const QColor& colour, const QString& text, QWidget* parent) {
    auto* item = new QWidget(parent);
    auto* layout = new QHBoxLayout(item);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    QPixmap swatch(8, 8);
    swatch.fill(colour);
    auto* swatchLabel = new QLabel(item);
    swatchLabel->setPixmap(swatch);
    layout->addWidget(swatchLabel);
    QLabel* label = SettingsUi::note(text, QStringLiteral("trendLegend"), item);
    label->setWordWrap(false);
    layout->addWidget(label);
    return item;
}

// The icon of an agent as its panel row would show it: its kind's symbol, or "app.dashed".
QIcon agentIcon(const std::string& name, const GuardSettings& settings) {
    ActivitySignal signal;
    signal.strength = SignalStrength::presence;
    signal.appName = name;
    const auto rows = buildAgentRows({signal}, GuardStatus::watching, settings);
    const QString symbol =
        rows.empty() ? QStringLiteral("app.dashed") : QString::fromStdString(rows.front().symbol);
    return SettingsStyle::symbolIcon(symbol, Theme::gray());
}

} // namespace

AgentBarRow::AgentBarRow(const QString& name, double seconds, double maxSeconds, const QIcon& icon,
                         QWidget* parent)
    : QWidget(parent), fraction_(maxSeconds > 0 ? std::clamp(seconds / maxSeconds, 0.0, 1.0) : 0) {
    setObjectName(QStringLiteral("agentBarRow.") + name);
    setAccessibleName(name + QStringLiteral(", ") + SettingsEditing::hoursText(seconds));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    auto* line = new QHBoxLayout;
    auto* iconLabel = new QLabel(this);
    iconLabel->setPixmap(icon.pixmap(16, 16));
    line->addWidget(iconLabel);
    line->addWidget(SettingsUi::label(name, QStringLiteral("agentBarName"), this), 1);
    line->addWidget(SettingsUi::note(SettingsEditing::hoursText(seconds),
                                     QStringLiteral("agentBarHours"), this));
    layout->addLayout(line);
    layout->addWidget(new ShareBar(fraction_, this));
}

SettingsStatsTab::SettingsStatsTab(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), clock_([] {
          return dateFromUnixTime(static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000);
      }),
      layout_(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("statsSettingsPane"));
    setAccessibleName(tr("Stats"));
    layout_->setSpacing(12);
    buildEmptyBox();
    buildImpactBox();
    buildAgentsBox();
    buildLongestBox();
    buildTrendBox();
    buildResetBox();
    layout_->addStretch();
    connect(&model_, &AppModel::metricsChanged, this, &SettingsStatsTab::refresh);
    refresh();
}

void SettingsStatsTab::setClock(std::function<Date()> clock) {
    clock_ = std::move(clock);
    refresh();
}

void SettingsStatsTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh(); // changes made while the tab was hidden are not all announced
}

void SettingsStatsTab::buildEmptyBox() {
    emptyBox_ = new SettingsBox(tr("Stats"), QStringLiteral("chart.bar"),
                                QStringLiteral("statsEmptyBox"), this);
    emptyBox_->content()->addWidget(semibold(SettingsUi::label(
        tr("No saved sessions yet"), QStringLiteral("statsEmptyTitle"), emptyBox_)));
    emptyBox_->content()->addWidget(SettingsUi::note(model_.wording().statsEmptyNote,
                                                     QStringLiteral("statsEmptyNote"), emptyBox_));
    layout_->addWidget(emptyBox_);
}

void SettingsStatsTab::buildImpactBox() {
    impactBox_ = new SettingsBox(tr("Impact"), QStringLiteral("bolt.shield"),
                                 QStringLiteral("impactBox"), this);
    QVBoxLayout* content = impactBox_->content();
    headline_ =
        semibold(SettingsUi::label(QString(), QStringLiteral("impactHeadline"), impactBox_), 1.3);
    content->addWidget(headline_);
    content->addWidget(SettingsUi::note(
        tr("Estimated time the OS would have slept — lid closed, agent actually working."),
        QStringLiteral("impactHeadlineNote"), impactBox_));
    content->addWidget(SettingsUi::divider(impactBox_));
    keptWorking_ = SettingsUi::label(QString(), QStringLiteral("keptWorkingLine"), impactBox_);
    content->addWidget(keptWorking_);
    content->addWidget(
        SettingsUi::note(tr("Real keep-awake time with the lid open — useful, but not a proven "
                            "sleep-prevention save."),
                         QStringLiteral("keptWorkingNote"), impactBox_));
    recoveredDivider_ = SettingsUi::divider(impactBox_);
    content->addWidget(recoveredDivider_);
    recovered_ = SettingsUi::label(QString(), QStringLiteral("recoveredLine"), impactBox_);
    content->addWidget(recovered_);
    since_ = SettingsUi::note(QString(), QStringLiteral("installDateLine"), impactBox_);
    content->addWidget(since_);
    layout_->addWidget(impactBox_);
}

void SettingsStatsTab::buildAgentsBox() {
    agentsBox_ = new SettingsBox(tr("Protected time by agent"), QStringLiteral("cpu"),
                                 QStringLiteral("protectedByAgentBox"), this);
    agentRows_ = agentsBox_->content();
    layout_->addWidget(agentsBox_);
}

void SettingsStatsTab::buildLongestBox() {
    longestBox_ = new SettingsBox(tr("Longest run"), QStringLiteral("stopwatch"),
                                  QStringLiteral("longestRunBox"), this);
    longest_ = SettingsUi::label(QString(), QStringLiteral("longestRunLine"), longestBox_);
    longestBox_->content()->addWidget(longest_);
    longestDate_ = SettingsUi::note(QString(), QStringLiteral("longestRunDate"), longestBox_);
    longestBox_->content()->addWidget(longestDate_);
    layout_->addWidget(longestBox_);
}

void SettingsStatsTab::buildTrendBox() {
    trendBox_ = new SettingsBox(tr("30-day trend"), QStringLiteral("chart.bar.xaxis"),
                                QStringLiteral("trendBox"), this);
    trendBox_->content()->addWidget(
        SettingsUi::note(tr("Last 30 days"), QStringLiteral("trendCaption"), trendBox_));
    chart_ = new TrendChart(trendBox_);
    trendBox_->content()->addWidget(chart_);
    auto* legend = new QHBoxLayout;
    QColor amber = SettingsStyle::impactAmber(*this);
    amber.setAlphaF(0.35f);
    legend->addWidget(
        legendItem(SettingsStyle::impactSaved(*this), model_.wording().protectedTitle, trendBox_));
    legend->addSpacing(12);
    legend->addWidget(legendItem(amber, tr("Kept working (lid open)"), trendBox_));
    legend->addStretch();
    trendBox_->content()->addLayout(legend);
    layout_->addWidget(trendBox_);
}

void SettingsStatsTab::buildResetBox() {
    auto* box = new SettingsBox(tr("Reset"), QStringLiteral("trash"),
                                QStringLiteral("resetStatsBox"), this);
    auto* row = new QHBoxLayout;
    QPushButton* reset =
        SettingsUi::button(tr("Reset stats"), QStringLiteral("resetStatsButton"), box);
    connect(reset, &QPushButton::clicked, this, &SettingsStatsTab::askToReset);
    row->addWidget(reset);
    row->addStretch();
    box->content()->addLayout(row);
    box->content()->addWidget(
        SettingsUi::note(model_.wording().statsStoredNote, QStringLiteral("resetStatsNote"), box));
    layout_->addWidget(box);
}

void SettingsStatsTab::askToReset() {
    if (confirmation_) {
        confirmation_->raise();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Reset all stats?"),
                                tr("Reset all stats?"), QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("resetStatsConfirmation"));
    box->setAccessibleName(tr("Reset all stats?"));
    box->setInformativeText(
        tr("This clears every counter. It keeps your install date but cannot be undone."));
    QPushButton* confirm = box->addButton(tr("Reset Stats"), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("confirmResetStatsButton"));
    confirm->setAccessibleName(confirm->text());
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelResetStatsButton"));
    cancel->setAccessibleName(cancel->text());
    box->setDefaultButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton* clicked) {
        if (clicked == confirm) {
            model_.resetMetrics();
            refresh();
        }
    });
    confirmation_ = box;
    box->open();
}

void SettingsStatsTab::refresh() {
    const UsageMetrics& metrics = model_.metrics();
    const bool empty = SettingsEditing::isStatsEmpty(metrics);
    const bool inWords = model_.wording().statisticsInWords;
    emptyBox_->setVisible(empty);
    for (QWidget* box : {static_cast<QWidget*>(impactBox_), static_cast<QWidget*>(agentsBox_),
                         static_cast<QWidget*>(longestBox_), static_cast<QWidget*>(trendBox_)}) {
        box->setVisible(!empty);
    }
    if (empty) {
        return;
    }
    headline_->setText(
        SettingsEditing::impactHeadline(metrics, model_.wording().protectedCaption, inWords));
    keptWorking_->setText(SettingsEditing::keptWorkingLine(metrics, inWords));
    const bool anyProtected = metrics.totalProtectedSeconds() > 0;
    recoveredDivider_->setVisible(anyProtected);
    recovered_->setVisible(anyProtected);
    recovered_->setText(SettingsEditing::recoveredLine(metrics, inWords));
    const QDate installDay =
        QDateTime::fromMSecsSinceEpoch(
            static_cast<qint64>(unixTimeFromDate(metrics.installDate()) * 1000))
            .toLocalTime()
            .date();
    since_->setText(tr("Since ") + QLocale().toString(installDay, QStringLiteral("MMM d, yyyy")));
    for (QLabel* label : {headline_, keptWorking_, recovered_, since_}) {
        label->setAccessibleName(label->text());
    }

    refreshAgents();

    longest_->setText(SettingsEditing::longestRunLine(metrics));
    longest_->setAccessibleName(longest_->text());
    const auto& longestDate = metrics.longestProtectedRunDate();
    const bool showDate = metrics.longestProtectedRunSeconds() > 0 && longestDate.has_value();
    longestDate_->setVisible(showDate);
    longestDate_->setText(showDate ? QString::fromStdString(*longestDate) : QString());

    chart_->setDays(metrics.recentDays(30, clock_()));
}

void SettingsStatsTab::refreshAgents() {
    while (QLayoutItem* item = agentRows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto entries = SettingsEditing::agentsByProtectedTime(model_.metrics());
    if (entries.empty()) {
        agentRows_->addWidget(SettingsUi::note(tr("No per-agent breakdown yet."),
                                               QStringLiteral("noAgentBreakdownLabel")));
        return;
    }
    const double largest = entries.front().second;
    for (const auto& [name, seconds] : entries) {
        agentRows_->addWidget(new AgentBarRow(QString::fromStdString(name), seconds, largest,
                                              agentIcon(name, model_.settings())));
    }
}

} // namespace nodwarden::app
