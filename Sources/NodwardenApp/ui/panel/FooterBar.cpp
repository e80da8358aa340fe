#include <NodwardenApp/ui/panel/FooterBar.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>
#include <NodwardenApp/ui/theme/Icons.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace nodwarden::app {

FooterBar::FooterBar(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    nameWidget(*this, QStringLiteral("footerBar"), tr("Actions"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto* settings =
        addButton(tr("Settings"), QStringLiteral("gearshape"), QStringLiteral("settingsButton"));
    auto* restore = addButton(tr("Restore"), QStringLiteral("arrow.counterclockwise"),
                              QStringLiteral("restoreButton"));
    auto* quit = addButton(tr("Quit"), QStringLiteral("power"), QStringLiteral("quitButton"));
    restore->setToolTip(tr("Turn keep-awake off and restore normal sleep"));

    connect(settings, &QToolButton::clicked, this, [this] { model_.openSettingsWindow(); });
    connect(restore, &QToolButton::clicked, this, [this] { model_.emergencyRestore(); });
    connect(quit, &QToolButton::clicked, this, [this] { model_.quit(); });
}

QToolButton* FooterBar::addButton(const QString& caption, const QString& symbol,
                                  const QString& objectName) {
    auto* button = new QToolButton(this);
    nameWidget(*button, objectName, caption);
    button->setText(caption);
    button->setIcon(symbolIcon(symbol, Theme::secondaryText(palette())));
    button->setIconSize(QSize(16, 16));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QPalette captionPalette = button->palette();
    captionPalette.setColor(QPalette::ButtonText, Theme::secondaryText(palette()));
    button->setPalette(captionPalette);
    static_cast<QHBoxLayout*>(layout())->addWidget(button, 1);
    return button;
}

} // namespace nodwarden::app
