#include "SettingsWindow.hpp"

#include "SettingsAdvancedTab.hpp"
#include "SettingsAgentsTab.hpp"
#include "SettingsDetectionTab.hpp"
#include "SettingsGeneralTab.hpp"
#include "SettingsPowerTab.hpp"
#include "SettingsStatsTab.hpp"
#include "SettingsStyle.hpp"
#include "SettingsWidgets.hpp"

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/ui/CloseShortcuts.hpp>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace nodwarden::app {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int indexOf(SettingsTab tab) {
    const auto found = std::find(settingsTabAllCases.begin(), settingsTabAllCases.end(), tab);
    return static_cast<int>(found - settingsTabAllCases.begin());
}

} // namespace

SettingsWindow::SettingsWindow(AppModel& model, QWidget* parent)
    : SettingsWindow(model, SettingsDesktopHooks::standard(), parent) {}

SettingsWindow::SettingsWindow(AppModel& model, SettingsDesktopHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint),
      model_(model), hooks_(std::move(hooks)), tabs_(new QTabWidget(this)) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(tr("Stayloom Settings"));
    setAccessibleName(tr("Stayloom Settings"));
    setMinimumSize(minimumWidth, minimumHeight);
    resize(defaultWidth, defaultHeight);
    addCloseShortcuts(*this);

    tabs_->setObjectName(QStringLiteral("settingsTabs"));
    tabs_->setAccessibleName(tr("Settings tabs"));
    tabs_->setDocumentMode(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->addWidget(tabs_);

    statsTab_ = new SettingsStatsTab(model_);
    const std::array<QWidget*, 6> panes = {new SettingsGeneralTab(model_, hooks_),
                                           new SettingsPowerTab(model_),
                                           new SettingsAgentsTab(model_),
                                           new SettingsDetectionTab(model_),
                                           statsTab_,
                                           new SettingsAdvancedTab(model_, hooks_)};
    for (std::size_t index = 0; index < panes.size(); ++index) {
        const SettingsTab tab = settingsTabAllCases[index];
        // The pane's object name keeps the tab's English name whatever the language.
        const QString name = qs(nodwarden::app::label(tab)).toLower();
        const QString label =
            QCoreApplication::translate("SettingsTab", nodwarden::app::label(tab).data());
        QScrollArea* pane =
            SettingsUi::pane(panes[index], name + QStringLiteral("SettingsScrollArea"));
        tabs_->addTab(pane, SettingsStyle::symbolIcon(qs(symbolName(tab))), label);
        tabs_->setTabToolTip(static_cast<int>(index), label);
    }

    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(settingsTabAllCases.size())) {
            model_.setSelectedSettingsTab(settingsTabAllCases[static_cast<std::size_t>(index)]);
        }
    });
    connect(&model_, &AppModel::selectedSettingsTabChanged, this, &SettingsWindow::followModel);
    followModel();
}

void SettingsWindow::selectTab(SettingsTab tab) {
    model_.setSelectedSettingsTab(tab);
    followModel(); // also when the model already had this tab selected
}

SettingsTab SettingsWindow::currentTab() const {
    const int index = std::clamp(tabs_->currentIndex(), 0, int(settingsTabAllCases.size()) - 1);
    return settingsTabAllCases[static_cast<std::size_t>(index)];
}

void SettingsWindow::followModel() {
    const QSignalBlocker blocker(tabs_);
    tabs_->setCurrentIndex(indexOf(model_.selectedSettingsTab()));
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) {
        emit closed();
    }
}

} // namespace nodwarden::app
