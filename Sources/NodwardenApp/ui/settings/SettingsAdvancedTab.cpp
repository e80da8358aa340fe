#include "SettingsAdvancedTab.hpp"

#include "SettingsDesktopHooks.hpp"
#include "SettingsWidgets.hpp"

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace nodwarden::app {

SettingsAdvancedTab::SettingsAdvancedTab(AppModel& model, const SettingsDesktopHooks& hooks,
                                         QWidget* parent)
    : QWidget(parent), model_(model), hooks_(hooks) {
    setObjectName(QStringLiteral("advancedSettingsPane"));
    setAccessibleName(tr("Advanced"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);

#if defined(STAYLOOM_DEBUG_SIMULATOR)
    auto* simulator = new SettingsBox(tr("Debug Simulator"), QStringLiteral("ladybug"),
                                      QStringLiteral("debugSimulatorBox"), this);
    auto* simulatorRow = new QHBoxLayout;
    QPushButton* active = SettingsUi::button(tr("Simulate Agent Active"),
                                             QStringLiteral("simulateActiveButton"), simulator);
    connect(active, &QPushButton::clicked, this, [this] { model_.simulateActive(); });
    QPushButton* finished = SettingsUi::button(tr("Simulate Agent Finished"),
                                               QStringLiteral("simulateFinishedButton"), simulator);
    connect(finished, &QPushButton::clicked, this, [this] { model_.simulateFinished(); });
    simulatorRow->addWidget(active);
    simulatorRow->addWidget(finished);
    simulatorRow->addStretch();
    simulator->content()->addLayout(simulatorRow);
    layout->addWidget(simulator);
#endif

    auto* logs = new SettingsBox(tr("Logs"), QStringLiteral("doc.text.magnifyingglass"),
                                 QStringLiteral("logsBox"), this);
    const QString logPath = QString::fromStdString(hooks_.logPath.string());
    QLabel* path = SettingsUi::note(logPath, QStringLiteral("logPathLabel"), logs);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    logs->content()->addWidget(path);
    auto* logRow = new QHBoxLayout;
    QPushButton* openLog =
        SettingsUi::button(tr("Open Log"), QStringLiteral("openLogButton"), logs);
    connect(openLog, &QPushButton::clicked, this, [this] {
        if (hooks_.openUrl) {
            hooks_.openUrl(QUrl::fromLocalFile(QString::fromStdString(hooks_.logPath.string())));
        }
    });
    QPushButton* openFolder =
        SettingsUi::button(tr("Open Log Folder"), QStringLiteral("openLogFolderButton"), logs);
    connect(openFolder, &QPushButton::clicked, this, [this] {
        if (hooks_.openUrl) {
            hooks_.openUrl(
                QUrl::fromLocalFile(QString::fromStdString(hooks_.logPath.parent_path().string())));
        }
    });
    logRow->addWidget(openLog);
    logRow->addWidget(openFolder);
    logRow->addStretch();
    logs->content()->addLayout(logRow);
    layout->addWidget(logs);

    auto* emergency = new SettingsBox(tr("Emergency"), QStringLiteral("exclamationmark.triangle"),
                                      QStringLiteral("emergencyBox"), this);
    QPushButton* restore = SettingsUi::button(tr("Emergency Restore Sleep Settings"),
                                              QStringLiteral("emergencyRestoreButton"), emergency);
    QFont font = restore->font();
    font.setBold(true);
    restore->setFont(font);
    restore->setMinimumHeight(restore->sizeHint().height() + 8);
    connect(restore, &QPushButton::clicked, this, [this] { model_.emergencyRestore(); });
    emergency->content()->addWidget(restore);
    emergency->content()->addWidget(SettingsUi::note(
        model_.wording().emergencyRestoreNote, QStringLiteral("emergencyRestoreNote"), emergency));
    layout->addWidget(emergency);
    layout->addStretch();
}

} // namespace nodwarden::app
