#include <NodwardenApp/ui/panel/StatusPanel.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/ui/panel/AgentsSection.hpp>
#include <NodwardenApp/ui/panel/ClickableFrame.hpp>
#include <NodwardenApp/ui/panel/FooterBar.hpp>
#include <NodwardenApp/ui/panel/HeroView.hpp>
#include <NodwardenApp/ui/panel/ImpactBand.hpp>
#include <NodwardenApp/ui/panel/InfoStrip.hpp>
#include <NodwardenApp/ui/panel/ModePicker.hpp>
#include <NodwardenApp/ui/panel/WarningRow.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QCoreApplication>
#include <QMetaMethod>
#include <QVBoxLayout>

#include <initializer_list>

namespace nodwarden::app {

StatusPanel::StatusPanel(AppModel& model, const PanelClock& clock, QWidget* parent)
    : QWidget(parent), model_(model) {
    nameWidget(*this, QStringLiteral("statusPanel"), QStringLiteral("Stayloom"));
    Theme::applyBrandAccent(*this);
    setFixedWidth(panelWidth);

    hero_ = new HeroView(model, clock, this);
    modePicker_ = new ModePicker(model, this);
    lidClosedBanner_ = new WarningRow(QStringLiteral("lidClosedWarningBanner"), false, this);
    staleSleepRow_ = new WarningRow(QStringLiteral("staleSleepWarningRow"), true, this);
    lockWarningRow_ = new WarningRow(QStringLiteral("lockWarningRow"), false, this);
    staleSleepRow_->setTexts(model_.wording().staleSleepTitle,
                             QCoreApplication::translate("WarningRow", staleSleepHint));
    impactBand_ = new ImpactBand(model, clock, this);
    agents_ = new AgentsSection(model, this);
    infoStrip_ = new InfoStrip(model, this);
    footer_ = new FooterBar(model, this);

    connect(staleSleepRow_, &ClickableFrame::activated, this,
            [this] { model_.restoreStaleSleepBlock(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 10);
    layout->setSpacing(12);
    layout->addWidget(hero_);
    layout->addWidget(modePicker_);
    layout->addWidget(lidClosedBanner_);
    layout->addWidget(staleSleepRow_);
    layout->addWidget(lockWarningRow_);
    layout->addWidget(impactBand_);
    layout->addWidget(makeDivider(this));
    layout->addWidget(agents_);
    layout->addWidget(makeDivider(this));
    layout->addWidget(infoStrip_);
    layout->addWidget(makeDivider(this));
    layout->addWidget(footer_);

    // Every change signal of the model and of its published state redraws the panel, and those
    // of the parts it shows; the statistics have no signal of their own while the settings window
    // is closed, so they are read again on any change.
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("refresh()"));
    for (const QObject* source :
         std::initializer_list<const QObject*>{&model, &model.published()}) {
        const QMetaObject* meta = source->metaObject();
        for (int index = meta->methodOffset(); index < meta->methodCount(); ++index) {
            const QMetaMethod method = meta->method(index);
            if (method.methodType() == QMetaMethod::Signal && method.parameterCount() == 0) {
                connect(source, method, this, slot);
            }
        }
    }
    for (auto signal :
         {&SleepCommands::guardingSinceChanged, &SleepCommands::lidClosedProtectionEngagedChanged,
          &SleepCommands::staleSleepBlockDetectedChanged, &SleepCommands::inFlightChanged}) {
        connect(&model.sleepCommands(), signal, this, &StatusPanel::refresh);
    }
    connect(&model.timedKeepAwake(), &TimedKeepAwake::changed, this, &StatusPanel::refresh);
    connect(&model.launchAtLogin(), &LaunchAtLogin::messageChanged, this, &StatusPanel::refresh);
    connect(&model.firstRun(), &FirstRunFlow::needsLegalAcceptanceChanged, this,
            &StatusPanel::refresh);
    refresh();
}

void StatusPanel::refresh() {
    hero_->refresh();
    modePicker_->refresh();
    const auto lidWarning = PanelTexts::lidClosedWarning(model_);
    lidClosedBanner_->setVisible(lidWarning.has_value());
    if (lidWarning) {
        lidClosedBanner_->setTexts(*lidWarning);
    }
    staleSleepRow_->setVisible(model_.sleepCommands().staleSleepBlockDetected());
    const auto lockWarning = model_.published().lockWarning();
    lockWarningRow_->setVisible(lockWarning.has_value());
    if (lockWarning) {
        lockWarningRow_->setTexts(*lockWarning);
    }
    impactBand_->refresh();
    agents_->refresh();
    infoStrip_->refresh();
    fitHeight();
}

void StatusPanel::fitHeight() {
    // Rows come and go with the model; a panel that is its own window follows its content.
    if (isWindow() && layout() != nullptr) {
        layout()->activate();
        const int height = hasHeightForWidth() ? heightForWidth(panelWidth) : sizeHint().height();
        if (height != this->height()) {
            resize(panelWidth, height);
        }
    }
}

void StatusPanel::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

} // namespace nodwarden::app
