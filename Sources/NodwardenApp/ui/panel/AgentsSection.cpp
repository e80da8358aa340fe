#include <NodwardenApp/ui/panel/AgentsSection.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenApp/ui/panel/ClickableFrame.hpp>
#include <NodwardenApp/ui/panel/ElidedLabel.hpp>
#include <NodwardenApp/ui/panel/SymbolLabel.hpp>
#include <NodwardenApp/ui/panel/WarningRow.hpp>
#include <NodwardenApp/ui/theme/DesktopEntryIcon.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QHBoxLayout>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>
#include <string>

namespace nodwarden::app {

namespace {

constexpr int agentIconSize = 20;

} // namespace

std::optional<QIcon> applicationIcon(const std::string& bundleID,
                                     const std::vector<std::string>& desktopIDs) {
    static std::map<std::string, std::optional<QIcon>> cache;
    if (const auto found = cache.find(bundleID); found != cache.end()) {
        return found->second;
    }
    std::optional<QIcon> icon;
    const QString name = QString::fromStdString(bundleID);
    if (!name.isEmpty() && QIcon::hasThemeIcon(name)) {
        QIcon themed = QIcon::fromTheme(name);
        if (iconDrawsSomething(themed, agentIconSize)) {
            icon = std::move(themed);
        }
    }
    // On Linux an installed application's desktop entry names the icon the desktop shows for
    // it; the entry's id is the identifier itself or one of the desktop's ids for it.
    if (!icon) {
        icon = desktopEntryIcon(name);
    }
    for (const std::string& desktopID : desktopIDs) {
        if (icon) {
            break;
        }
        icon = desktopEntryIcon(QString::fromStdString(desktopID));
    }
    cache.emplace(bundleID, icon);
    return icon;
}

StatePill::StatePill(const QString& text, bool working, QWidget* parent)
    : QLabel(text, parent), working_(working) {
    nameWidget(*this, QStringLiteral("agentStatePill"), text);
    const QColor foreground =
        working ? Theme::textTone(Theme::green(), palette()) : Theme::secondaryText(palette());
    const QColor background = Theme::withOpacity(working ? Theme::green() : Theme::gray(), 0.16);
    QFont pillFont = font();
    if (pillFont.pointSizeF() > 0) {
        pillFont.setPointSizeF(pillFont.pointSizeF() - 2);
    }
    pillFont.setBold(true);
    setFont(pillFont);
    setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 8px; "
                                 "padding: 1px 7px; }")
                      .arg(foreground.name(), background.name(QColor::HexArgb)));
}

AgentRowView::AgentRowView(const AgentStatusRow& row, const std::vector<std::string>& desktopIDs,
                           QWidget* parent)
    : QWidget(parent), row_(row) {
    const QString name = QString::fromStdString(row.name);
    nameWidget(*this, QStringLiteral("agentRow"), name);
    setAccessibleDescription(QString::fromStdString(row.detail) + QStringLiteral(" — ") +
                             ReasonTexts::agentState(row.state));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("agentIcon"));
    icon->setFixedSize(agentIconSize, agentIconSize);
    std::optional<QIcon> appIcon;
    if (row.bundleID) {
        appIcon = applicationIcon(*row.bundleID, desktopIDs);
    }
    showsApplicationIcon_ = appIcon.has_value();
    const QIcon shown =
        appIcon ? *appIcon
                : symbolIcon(QString::fromStdString(row.symbol),
                             row.isWorking ? Theme::green() : Theme::secondaryText(palette()));
    icon->setPixmap(shown.pixmap(QSize(agentIconSize, agentIconSize)));
    icon->setAccessibleName(name);

    auto* title = new ElidedLabel(this);
    title->setObjectName(QStringLiteral("agentName"));
    title->setFullText(name);
    auto* detail = makeSecondaryLabel(QString::fromStdString(row.detail), this);
    detail->setObjectName(QStringLiteral("agentDetail"));

    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(0);
    texts->addWidget(title);
    texts->addWidget(detail);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(8);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    layout->addWidget(new StatePill(ReasonTexts::agentState(row.state), row.isWorking, this), 0,
                      Qt::AlignVCenter);
}

AgentsSection::AgentsSection(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), summary_(makeSecondaryLabel(QString(), this)),
      emptyRow_(new QWidget(this)), nothingWatchedRow_(new QWidget(this)),
      rowsBox_(new QWidget(this)), rowsLayout_(new QVBoxLayout(rowsBox_)),
      accessibilityRow_(new WarningRow(QStringLiteral("accessibilityWarningRow"), true, this)) {
    nameWidget(*this, QStringLiteral("agentsSection"), tr("Agents"));
    nameWidget(*summary_, QStringLiteral("agentsSummaryLabel"), tr("Agent summary"));

    auto* heading = new QLabel(tr("Agents"), this);
    heading->setObjectName(QStringLiteral("agentsHeading"));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    auto* header = new QHBoxLayout;
    header->addWidget(heading);
    header->addStretch(1);
    header->addWidget(summary_);

    nameWidget(*emptyRow_, QStringLiteral("agentsEmptyRow"), tr("No agents running"));
    {
        auto* layout = new QHBoxLayout(emptyRow_);
        layout->setContentsMargins(0, 2, 0, 2);
        layout->setSpacing(8);
        layout->addWidget(new SymbolLabel(QStringLiteral("magnifyingglass"), 16,
                                          Theme::secondaryText(palette()), emptyRow_));
        layout->addWidget(makeSecondaryLabel(tr("No agents running"), emptyRow_), 1);
    }

    const QString nothingWatchedText = tr("Nothing is watched — every agent is switched off.");
    const QString chooseAgentsLabel = tr("Choose Agents…");
    nameWidget(*nothingWatchedRow_, QStringLiteral("agentsNothingWatchedRow"), nothingWatchedText);
    {
        auto* layout = new QHBoxLayout(nothingWatchedRow_);
        layout->setContentsMargins(0, 2, 0, 2);
        layout->setSpacing(8);
        layout->addWidget(new SymbolLabel(QStringLiteral("eye"), 16,
                                          Theme::secondaryText(palette()), nothingWatchedRow_));
        QLabel* text = makeSecondaryLabel(nothingWatchedText, nothingWatchedRow_);
        text->setWordWrap(true);
        layout->addWidget(text, 1);
        auto* choose = new QPushButton(chooseAgentsLabel, nothingWatchedRow_);
        nameWidget(*choose, QStringLiteral("chooseAgentsButton"), chooseAgentsLabel);
        connect(choose, &QPushButton::clicked, this,
                [this] { model_.openSettingsWindow(SettingsTab::agents); });
        layout->addWidget(choose);
    }

    rowsBox_->setObjectName(QStringLiteral("agentRows"));
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(4);

    connect(accessibilityRow_, &ClickableFrame::activated, this,
            [this] { model_.requestAccessibilityPermission(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(header);
    layout->addWidget(emptyRow_);
    layout->addWidget(nothingWatchedRow_);
    layout->addWidget(rowsBox_);
    layout->addWidget(accessibilityRow_);
    refresh();
}

void AgentsSection::refresh() {
    summary_->setText(model_.published().agentSummary());
    if (!shownRows_ || *shownRows_ != model_.published().agentRows()) {
        rebuildRows();
    }
    // Rows shown mean something is watched: the catalog is consulted only without them.
    const bool noRows = model_.published().agentRows().empty();
    const bool nothingWatched = noRows && PanelTexts::watchesNothing(model_.settings());
    emptyRow_->setVisible(noRows && !nothingWatched);
    nothingWatchedRow_->setVisible(nothingWatched);
    const auto warning = model_.published().accessibilityWarning();
    accessibilityRow_->setVisible(warning.has_value());
    if (warning) {
        accessibilityRow_->setTexts(*warning, model_.wording().accessibilityHint);
    }
}

void AgentsSection::rebuildRows() {
    while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const std::vector<AgentStatusRow>& rows = model_.published().agentRows();
    for (const AgentStatusRow& row : rows) {
        const std::vector<std::string> desktopIDs =
            row.bundleID ? model_.desktopApplicationIDs(*row.bundleID) : std::vector<std::string>{};
        rowsLayout_->addWidget(new AgentRowView(row, desktopIDs, rowsBox_));
    }
    rowsBox_->setVisible(!rows.empty());
    shownRows_ = rows;
}

} // namespace nodwarden::app
