#include <NodwardenApp/ui/panel/TrayIcon.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenApp/ui/panel/StatusPanel.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QActionGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace nodwarden::app {

namespace {

/// The panel's own window where there is no tray. Closing only hides it; the first time, the
/// terminal hears how to get it back.
class PanelWindow : public QWidget {
public:
    PanelWindow() : QWidget(nullptr, Qt::Window) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        if (!noted_) {
            noted_ = true;
            std::fprintf(stderr, "Stayloom keeps running without a window. Start Stayloom again "
                                 "to bring the panel back.\n");
        }
        QWidget::closeEvent(event);
    }

private:
    bool noted_ = false;
};

} // namespace

TrayIcon::TrayIcon(AppModel& model, const PanelClock& clock, bool systemTrayAvailable,
                   QObject* parent)
    : QObject(parent), model_(model), clock_(clock) {
    if (systemTrayAvailable) {
        buildMenu();

        trayIcon_ = std::make_unique<QSystemTrayIcon>();
        trayIcon_->setObjectName(QStringLiteral("trayIcon"));
        trayIcon_->setContextMenu(menu_.get());
        connect(trayIcon_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick) {
                        togglePanel();
                    }
                });
        for (auto signal :
             {&PublishedStatus::statusChanged, &PublishedStatus::statusReasonChanged}) {
            connect(&model.published(), signal, this, &TrayIcon::refreshTrayIcon);
        }
        connect(&model, &AppModel::modeChanged, this, &TrayIcon::refreshTrayIcon);
        connect(&model.sleepCommands(), &SleepCommands::guardingSinceChanged, this,
                &TrayIcon::refreshTrayIcon);
        connect(&model.timedKeepAwake(), &TimedKeepAwake::changed, this,
                &TrayIcon::refreshTrayIcon);
        toolTipTimer_ = new QTimer(this);
        connect(toolTipTimer_, &QTimer::timeout, this, &TrayIcon::refreshTrayIcon);
        toolTipTimer_->start(toolTipRefreshMilliseconds);
        refreshTrayIcon();
        trayIcon_->show();
        return;
    }

    auto window = std::make_unique<PanelWindow>();
    window->setObjectName(QStringLiteral("panelWindow"));
    window->setWindowTitle(QStringLiteral("Stayloom"));
    window->setAccessibleName(QStringLiteral("Stayloom"));
    window->setWindowIcon(statusIcon(model));
    panel_ = new StatusPanel(model, clock, window.get());
    auto* note = makeSecondaryLabel(tr(windowedNote), window.get(), -2);
    note->setObjectName(QStringLiteral("panelWindowNote"));
    note->setWordWrap(true);
    note->setFixedWidth(StatusPanel::panelWidth - 32);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(panel_);
    layout->addWidget(note, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(&model.published(), &PublishedStatus::statusChanged, window.get(),
            [this] { window_->setWindowIcon(statusIcon(model_)); });
    window_ = std::move(window);
    window_->show();
}

TrayIcon::~TrayIcon() {
    if (trayIcon_) {
        trayIcon_->hide();
    }
}

QWidget* TrayIcon::panelWindow() {
    buildPopup();
    return window_.get();
}

StatusPanel* TrayIcon::panel() {
    buildPopup();
    return panel_;
}

void TrayIcon::buildPopup() {
    if (window_) {
        return;
    }
    panel_ = new StatusPanel(model_, clock_);
    panel_->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    window_.reset(panel_);
}

QIcon TrayIcon::statusIcon(const AppModel& model) {
    return symbolIcon(model.published().statusIconName(),
                      Theme::statusColor(model.published().status()));
}

void TrayIcon::buildMenu() {
    menu_ = std::make_unique<QMenu>();
    menu_->setObjectName(QStringLiteral("trayMenu"));
    menu_->addAction(tr("Open Stayloom"), this, [this] { activate(); });
    menu_->addSeparator();
    auto* modes = new QActionGroup(menu_.get());
    modes->setExclusive(true);
    for (const auto& [mode, name] : model_.wording().modeNames) {
        QAction* action = menu_->addAction(name);
        action->setCheckable(true);
        action->setObjectName(QStringLiteral("trayMode_") + panelText(rawValue(mode)));
        modes->addAction(action);
        const AppMode target = mode;
        connect(action, &QAction::triggered, this, [this, target] {
            model_.setMode(target);
            refreshMenu();
        });
        modeActions_.emplace_back(mode, action);
    }
    menu_->addSeparator();
    for (const auto& [hours, text] : model_.wording().timedKeepAwakeItems) {
        QAction* action = menu_->addAction(text);
        action->setObjectName(QStringLiteral("trayKeepAwakeFor%1h").arg(hours));
        const double seconds = hours * 3600.0;
        connect(action, &QAction::triggered, this,
                [this, seconds] { model_.keepAwakeFor(seconds); });
    }
    menu_->addSeparator();
    menu_->addAction(tr("Settings…"), this, [this] { model_.openSettingsWindow(); });
    menu_->addAction(tr("Quit Stayloom"), this, [this] { model_.quit(); });
    connect(&model_, &AppModel::modeChanged, this, &TrayIcon::refreshMenu);
    refreshMenu();
}

void TrayIcon::refreshMenu() {
    for (const auto& [mode, action] : modeActions_) {
        action->setChecked(mode == model_.mode());
    }
}

QString TrayIcon::toolTip(const AppModel& model, Date now) {
    QString text = QStringLiteral("Stayloom — ") +
                   ReasonTexts::statusName(model.published().status(), model.wording());
    if (!model.published().statusReason().isEmpty()) {
        text += u'\n' + model.published().statusReason();
    }
    if (const auto graceEnds = model.graceEndsAt()) {
        QString left = panelText(PanelTexts::graceCountdown(*graceEnds - now));
        if (!left.isEmpty()) {
            left[0] = left[0].toUpper();
        }
        text += u'\n' + left;
    } else if (const auto until = model.timedKeepAwake().until()) {
        QString left = panelText(PanelTexts::timedKeepAwakeLeft(*until, now));
        if (!left.isEmpty()) {
            left[0] = left[0].toUpper();
        }
        text +=
            u'\n' + tr("%1, then %2")
                        .arg(left, model.wording().modeName(
                                       model.timedKeepAwake().modeAfter().value_or(AppMode::off)));
    } else if (const auto since = model.sleepCommands().guardingSince()) {
        text +=
            u'\n' + tr("Awake for %1").arg(panelText(PanelTexts::compactDuration(now - *since)));
    }
    return text;
}

void TrayIcon::refreshTrayIcon() {
    const QString name = model_.published().statusIconName() + QLatin1Char('/') +
                         Theme::statusColor(model_.published().status()).name();
    if (name != shownIconName_) {
        shownIconName_ = name;
        trayIcon_->setIcon(statusIcon(model_));
    }
    const QString tip = toolTip(model_, clock_());
    if (trayIcon_->toolTip() != tip) {
        trayIcon_->setToolTip(tip);
    }
    // A countdown to the second while the grace runs, else a refresh now and then.
    const int interval = model_.graceEndsAt() ? 1000 : toolTipRefreshMilliseconds;
    if (toolTipTimer_ != nullptr && toolTipTimer_->interval() != interval) {
        toolTipTimer_->start(interval);
    }
}

void TrayIcon::togglePanel() {
    if (usesSystemTray() && window_ && window_->isVisible()) {
        window_->hide();
        return;
    }
    activate();
}

void TrayIcon::activate() {
    if (usesSystemTray()) {
        buildPopup();
        panel_->refresh();
        placePopup();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void TrayIcon::placePopup() {
    // Next to the icon where the tray tells where it is, else where the pointer is (the click).
    const QRect icon = trayIcon_->geometry();
    const QPoint anchor = icon.isValid() ? icon.center() : QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(anchor);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QSize size = window_->size();
    QPoint topLeft(anchor.x() - size.width() / 2, 0);
    const bool iconAtBottom = anchor.y() > area.center().y();
    topLeft.setY(iconAtBottom ? (icon.isValid() ? icon.top() : anchor.y()) - size.height() - 4
                              : (icon.isValid() ? icon.bottom() : anchor.y()) + 4);
    topLeft.setX(
        std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - size.width())));
    topLeft.setY(
        std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() - size.height())));
    window_->move(topLeft);
}

} // namespace nodwarden::app
