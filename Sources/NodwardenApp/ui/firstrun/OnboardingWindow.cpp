#include <NodwardenApp/ui/firstrun/OnboardingWindow.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/FirstRunTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/ui/firstrun/FirstRunProgressDots.hpp>
#include <NodwardenApp/ui/theme/FirstRunStyle.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace nodwarden::app {

namespace {

constexpr int contentWidth = 520;
constexpr int headerSymbolSize = 44;
constexpr int rowIconSize = 18;
constexpr int agentColumns = 3;
constexpr int lastStep = FirstRun::stepCount - 1;

QLabel* makeLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setAccessibleName(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleName(text);
}

QLabel* makeIcon(const QString& symbol, int size, const QColor& color, const QString& objectName,
                 const QString& accessibleName, QWidget* parent) {
    auto* icon = new QLabel(parent);
    icon->setObjectName(objectName);
    icon->setAccessibleName(accessibleName);
    icon->setPixmap(FirstRun::symbolPixmap(symbol, size, color, parent));
    return icon;
}

QFont scaledFont(const QFont& base, qreal factor, bool bold) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

} // namespace

OnboardingWindow::OnboardingWindow(AppModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      model_(model) {
    setObjectName(QStringLiteral("onboardingWindow"));
    setWindowTitle(FirstRun::onboardingTitle());
    setAccessibleName(FirstRun::onboardingTitle());
    Theme::applyBrandAccent(*this);

    symbolLabel_ = new QLabel(this);
    symbolLabel_->setObjectName(QStringLiteral("stepSymbol"));
    symbolLabel_->setAlignment(Qt::AlignHCenter);
    titleLabel_ = makeLabel(QString(), QStringLiteral("stepTitle"), this);
    titleLabel_->setFont(scaledFont(font(), 1.4, true));
    titleLabel_->setAlignment(Qt::AlignHCenter);
    titleLabel_->setWordWrap(true);
    detailLabel_ = makeLabel(QString(), QStringLiteral("stepDetail"), this);
    detailLabel_->setWordWrap(true);
    Theme::useSecondaryText(*detailLabel_);

    pages_ = new QStackedWidget(this);
    pages_->setObjectName(QStringLiteral("stepPages"));
    pages_->setAccessibleName(FirstRun::onboardingTitle());
    pages_->addWidget(buildAgentsPage());
    pages_->addWidget(buildAccessibilityPage());
    pages_->addWidget(buildDetectionPage());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 22, 28, 18);
    layout->setSpacing(10);
    layout->addWidget(symbolLabel_);
    layout->addWidget(titleLabel_);
    layout->addWidget(detailLabel_);
    layout->addSpacing(4);
    layout->addWidget(pages_, 1);
    layout->addWidget(buildFooter());

    connect(&model_, &AppModel::settingsChanged, this, [this] {
        refreshAgentToggles();
        refreshLaunchAtLogin();
        refreshHeader();
    });
    connect(&model_, &AppModel::accessibilityTrustedChanged, this,
            &OnboardingWindow::refreshAccessibility);
    connect(&model_.launchAtLogin(), &LaunchAtLogin::messageChanged, this,
            &OnboardingWindow::refreshLaunchAtLogin);
    for (auto signal :
         {&PublishedStatus::lastSignalStrengthChanged, &PublishedStatus::agentRowsChanged,
          &PublishedStatus::statusReasonChanged}) {
        connect(&model_.published(), signal, this, [this] {
            refreshDetection();
            refreshHeader();
        });
    }

    refreshAgentToggles();
    refreshAccessibility();
    refreshDetection();
    refreshLaunchAtLogin();
    showStep(0);

    // The program's quit closes every window before it ends; that must not count as finishing
    // the first run, which the user may not even have seen through.
    qApp->installEventFilter(this);

    setFixedWidth(contentWidth);
    // Fitted to the tallest step so the footer does not move between steps.
    resize(contentWidth, std::max(480, layout->totalHeightForWidth(contentWidth)));
}

QWidget* OnboardingWindow::buildAgentsPage() {
    auto* page = new QWidget(pages_);
    page->setObjectName(QStringLiteral("agentsPage"));
    page->setAccessibleName(FirstRun::agentsStepTitle());
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    // One grid for every group, so the columns line up from group to group whatever widths the
    // style gives check boxes and captions; every column as wide as the widest toggle.
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(2);
    int row = 0;
    int groupIndex = 0;
    int widestToggle = 0;
    for (const FirstRun::AgentGroup& group : FirstRun::agentGroups()) {
        QLabel* caption =
            makeLabel(group.caption, QStringLiteral("agentGroupCaption%1").arg(groupIndex++), page);
        caption->setFont(scaledFont(font(), 0.9, true));
        Theme::useSecondaryText(*caption);
        if (row > 0) {
            grid->setRowMinimumHeight(row++, 4);
        }
        grid->addWidget(caption, row++, 0, 1, agentColumns);

        int index = 0;
        for (const AgentProfile& profile : group.profiles) {
            const QString name = QString::fromStdString(profile.displayName);
            auto* toggle = new QCheckBox(name, page);
            toggle->setObjectName(QStringLiteral("agentToggle_") +
                                  QString::fromStdString(profile.id));
            toggle->setAccessibleName(name);
            connect(toggle, &QCheckBox::toggled, this,
                    [this, id = profile.id](bool watched) { setAgentWatched(id, watched); });
            grid->addWidget(toggle, row + index / agentColumns, index % agentColumns);
            widestToggle = std::max(widestToggle, toggle->sizeHint().width());
            agentToggles_.push_back({profile.id, toggle});
            ++index;
        }
        row += (index + agentColumns - 1) / agentColumns;
    }
    for (int column = 0; column < agentColumns; ++column) {
        grid->setColumnStretch(column, 1);
        grid->setColumnMinimumWidth(column, widestToggle);
    }
    layout->addSpacing(4);
    layout->addLayout(grid);

    auto* openSettings = new QPushButton(FirstRun::openSettingsLabel(), page);
    openSettings->setObjectName(QStringLiteral("openSettingsButton"));
    openSettings->setAccessibleName(FirstRun::openSettingsLabel());
    openSettings->setFlat(true);
    openSettings->setCursor(Qt::PointingHandCursor);
    connect(openSettings, &QPushButton::clicked, this,
            [this] { model_.openSettingsWindow(SettingsTab::agents); });
    layout->addSpacing(6);
    layout->addWidget(openSettings, 0, Qt::AlignLeft);
    layout->addStretch(1);
    return page;
}

QWidget* OnboardingWindow::buildAccessibilityPage() {
    auto* page = new QWidget(pages_);
    page->setObjectName(QStringLiteral("accessibilityPage"));
    page->setAccessibleName(model_.wording().accessibilityStepTitle);

    accessGrantedRow_ = new QWidget(page);
    accessGrantedRow_->setObjectName(QStringLiteral("accessGrantedRow"));
    accessGrantedRow_->setAccessibleName(model_.wording().accessGranted);
    auto* granted = new QHBoxLayout(accessGrantedRow_);
    granted->setContentsMargins(0, 0, 0, 0);
    granted->addStretch(1);
    granted->addWidget(makeIcon(QStringLiteral("checkmark.circle.fill"), rowIconSize,
                                Theme::green(), QStringLiteral("accessGrantedIcon"),
                                model_.wording().accessGranted, accessGrantedRow_));
    granted->addWidget(makeLabel(model_.wording().accessGranted,
                                 QStringLiteral("accessGrantedLabel"), accessGrantedRow_));
    granted->addStretch(1);

    grantAccessRow_ = new QWidget(page);
    grantAccessRow_->setObjectName(QStringLiteral("grantAccessRow"));
    grantAccessRow_->setAccessibleName(model_.wording().grantAccessLabel);
    auto* grantButton = new QPushButton(model_.wording().grantAccessLabel, grantAccessRow_);
    grantButton->setObjectName(QStringLiteral("grantAccessButton"));
    grantButton->setAccessibleName(model_.wording().grantAccessLabel);
    connect(grantButton, &QPushButton::clicked, &model_, &AppModel::requestAccessibilityPermission);
    QLabel* hint = makeLabel(model_.wording().grantAccessHint, QStringLiteral("grantAccessHint"),
                             grantAccessRow_);
    Theme::useSecondaryText(*hint);
    hint->setFont(scaledFont(font(), 0.9, false));
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignHCenter);
    auto* grant = new QVBoxLayout(grantAccessRow_);
    grant->setContentsMargins(0, 0, 0, 0);
    grant->addWidget(grantButton, 0, Qt::AlignHCenter);
    grant->addWidget(hint);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->addWidget(accessGrantedRow_);
    layout->addWidget(grantAccessRow_);
    layout->addStretch(1);
    return page;
}

QWidget* OnboardingWindow::buildDetectionPage() {
    auto* page = new QWidget(pages_);
    page->setObjectName(QStringLiteral("detectionPage"));
    page->setAccessibleName(FirstRun::onboardingTitle());

    reasonLabel_ = makeLabel(QString(), QStringLiteral("statusReasonLabel"), page);
    reasonLabel_->setWordWrap(true);
    reasonLabel_->setAlignment(Qt::AlignHCenter);
    Theme::useSecondaryText(*reasonLabel_);
    reasonLabel_->setFont(scaledFont(font(), 0.9, false));

    resultIcon_ = new QLabel(page);
    resultIcon_->setObjectName(QStringLiteral("detectionResultIcon"));
    resultIcon_->setAccessibleName(model_.wording().detectedResult);
    resultIcon_->setPixmap(FirstRun::symbolPixmap(QStringLiteral("checkmark.circle.fill"),
                                                  rowIconSize, Theme::green(), page));
    resultLabel_ = makeLabel(QString(), QStringLiteral("detectionResultLabel"), page);
    resultLabel_->setWordWrap(true);
    auto* result = new QHBoxLayout;
    result->addWidget(resultIcon_, 0, Qt::AlignVCenter);
    result->addWidget(resultLabel_, 1);

    launchAtLoginCheckBox_ = new QCheckBox(FirstRun::launchAtLoginLabel(), page);
    launchAtLoginCheckBox_->setObjectName(QStringLiteral("launchAtLoginCheckBox"));
    launchAtLoginCheckBox_->setAccessibleName(FirstRun::launchAtLoginLabel());
    connect(launchAtLoginCheckBox_, &QCheckBox::toggled, this, &OnboardingWindow::setLaunchAtLogin);
    launchAtLoginMessageLabel_ =
        makeLabel(QString(), QStringLiteral("launchAtLoginMessageLabel"), page);
    launchAtLoginMessageLabel_->setWordWrap(true);
    Theme::useSecondaryText(*launchAtLoginMessageLabel_);
    launchAtLoginMessageLabel_->setFont(scaledFont(font(), 0.9, false));

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(reasonLabel_);
    layout->addSpacing(6);
    layout->addLayout(result);
    layout->addStretch(1);
    layout->addWidget(launchAtLoginCheckBox_);
    layout->addWidget(launchAtLoginMessageLabel_);
    return page;
}

QWidget* OnboardingWindow::buildFooter() {
    auto* footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("onboardingFooter"));
    footer->setAccessibleName(FirstRun::onboardingTitle());

    backButton_ = new QPushButton(FirstRun::backLabel(), footer);
    backButton_->setObjectName(QStringLiteral("backButton"));
    backButton_->setAccessibleName(FirstRun::backLabel());
    connect(backButton_, &QPushButton::clicked, this, [this] { showStep(step_ - 1); });
    // Hidden on the first step without giving up its room, so the dots stay put.
    QSizePolicy keepRoom = backButton_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    backButton_->setSizePolicy(keepRoom);

    dots_ = new FirstRunProgressDots(FirstRun::stepCount, footer);

    nextButton_ = new QPushButton(FirstRun::continueLabel(), footer);
    nextButton_->setObjectName(QStringLiteral("nextButton"));
    nextButton_->setDefault(true);
    FirstRun::stylePrimaryButton(*nextButton_);
    connect(nextButton_, &QPushButton::clicked, this, [this] {
        if (step_ < lastStep) {
            showStep(step_ + 1);
        } else {
            close();
        }
    });
    // Both sides as wide as the wider button, so the dots sit in the middle.
    const int side = std::max({backButton_->sizeHint().width(), nextButton_->sizeHint().width(),
                               QPushButton(FirstRun::doneLabel()).sizeHint().width()});
    backButton_->setFixedWidth(side);
    nextButton_->setFixedWidth(side);

    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->addWidget(backButton_);
    layout->addStretch(1);
    layout->addWidget(dots_);
    layout->addStretch(1);
    layout->addWidget(nextButton_);
    return footer;
}

void OnboardingWindow::showStep(int step) {
    step_ = std::clamp(step, 0, lastStep);
    pages_->setCurrentIndex(step_);
    dots_->setCurrent(step_);
    backButton_->setVisible(step_ > 0);
    const QString nextText = step_ == lastStep ? FirstRun::doneLabel() : FirstRun::continueLabel();
    nextButton_->setText(nextText);
    nextButton_->setAccessibleName(nextText);
    refreshHeader();
    if (step_ == lastStep && model_.mode() != AppMode::watchAgentUI) {
        // The live check only means something while agents are being watched.
        model_.setMode(AppMode::watchAgentUI);
    }
}

void OnboardingWindow::setAgentWatched(const std::string& agentID, bool watched) {
    model_.commitSettings(FirstRun::withAgentWatched(model_.settings(), agentID, watched));
}

void OnboardingWindow::setLaunchAtLogin(bool enabled) {
    model_.setLaunchAtLogin(enabled);
    // A refused registration leaves the setting as it was, which announces no change: show
    // what the model holds now either way.
    refreshLaunchAtLogin();
}

void OnboardingWindow::refreshHeader() {
    QString symbol;
    QColor color = Theme::brandAccent();
    QString title;
    QString detail;
    switch (step_) {
    case 0:
        symbol = QStringLiteral("checklist");
        title = FirstRun::agentsStepTitle();
        detail = FirstRun::agentsStepDetail();
        break;
    case 1:
        symbol = QStringLiteral("accessibility");
        title = model_.wording().accessibilityStepTitle;
        detail = FirstRun::accessibilityDetail(model_.settings(), model_.wording());
        break;
    default: {
        const Onboarding::DetectionHeadline headline = FirstRun::detectionHeadline(model_);
        symbol = headline.detected ? QStringLiteral("eye.fill") : QStringLiteral("eye");
        color = headline.detected ? Theme::green() : Theme::secondaryText(palette());
        title = QString::fromStdString(headline.text);
        break;
    }
    }
    symbolLabel_->setPixmap(FirstRun::symbolPixmap(symbol, headerSymbolSize, color, this));
    symbolLabel_->setAccessibleName(title);
    setLabelText(titleLabel_, title);
    setLabelText(detailLabel_, detail);
    detailLabel_->setVisible(!detail.isEmpty());
}

void OnboardingWindow::refreshAgentToggles() {
    const auto& disabled = model_.settings().disabledAgentIDs;
    for (const AgentToggle& toggle : agentToggles_) {
        const QSignalBlocker blocker(toggle.checkBox);
        toggle.checkBox->setChecked(std::find(disabled.begin(), disabled.end(), toggle.agentID) ==
                                    disabled.end());
    }
}

void OnboardingWindow::refreshAccessibility() {
    const bool trusted = model_.accessibilityTrusted();
    accessGrantedRow_->setVisible(trusted);
    grantAccessRow_->setVisible(!trusted);
}

void OnboardingWindow::refreshDetection() {
    const Onboarding::DetectionHeadline headline = FirstRun::detectionHeadline(model_);
    setLabelText(reasonLabel_, model_.published().statusReason());
    reasonLabel_->setVisible(!model_.published().statusReason().isEmpty());
    resultIcon_->setVisible(headline.detected);
    setLabelText(resultLabel_,
                 headline.detected ? model_.wording().detectedResult : FirstRun::waitingResult());
}

void OnboardingWindow::refreshLaunchAtLogin() {
    {
        const QSignalBlocker blocker(launchAtLoginCheckBox_);
        launchAtLoginCheckBox_->setChecked(model_.settings().launchAtLoginEnabled);
    }
    const std::optional<QString> message = model_.launchAtLogin().message();
    setLabelText(launchAtLoginMessageLabel_, message.value_or(QString()));
    launchAtLoginMessageLabel_->setVisible(message.has_value());
}

bool OnboardingWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::Quit) {
        applicationQuitting_ = true;
        // A quit that another window refuses leaves the program running; forget it then.
        QTimer::singleShot(0, this, [this] { applicationQuitting_ = false; });
    }
    return QWidget::eventFilter(watched, event);
}

void OnboardingWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && !applicationQuitting_) {
        model_.windowWillClose(AppWindow::onboarding);
    }
}

} // namespace nodwarden::app
