#include <NodwardenApp/ui/panel/ModePicker.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace nodwarden::app {

namespace {

/// The segments' object names, whatever the wording calls them.
QString objectNameFor(AppMode mode) {
    switch (mode) {
    case AppMode::watchAgentUI:
        return QStringLiteral("modeWatchButton");
    case AppMode::manualKeepAwake:
        return QStringLiteral("modeAwakeButton");
    case AppMode::off:
        return QStringLiteral("modeOffButton");
    case AppMode::sleepAfterCurrentWork:
        return QStringLiteral("modeSleepAfterButton");
    case AppMode::pluggedInUnlimited:
        return QStringLiteral("modeUnlimitedButton");
    }
    return {};
}

} // namespace

ModePicker::ModePicker(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    nameWidget(*this, QStringLiteral("modePicker"), tr("Mode"));
    const auto& segments = model.wording().pickerModes;
    const QString first = segments.empty() ? QString() : objectNameFor(segments.front().first);
    const QString last = segments.empty() ? QString() : objectNameFor(segments.back().first);
    const QColor accent = Theme::brandAccent();
    const QColor border = Theme::withOpacity(palette().color(QPalette::WindowText), 0.18);
    setStyleSheet(QStringLiteral("QPushButton { border: 1px solid %1; padding: 5px 0px; "
                                 "background: transparent; }"
                                 "QPushButton:checked { background: %2; color: white; "
                                 "border-color: %2; font-weight: bold; }"
                                 // The window's text colour stands out from the accent and
                                 // from the window alike (3:1 and more), so the focus shows
                                 // on a chosen segment as on the others.
                                 "QPushButton:focus { border: 2px solid %5; }"
                                 "QPushButton#%3 { border-top-left-radius: 7px; "
                                 "border-bottom-left-radius: 7px; }"
                                 "QPushButton#%4 { border-top-right-radius: 7px; "
                                 "border-bottom-right-radius: 7px; }")
                      .arg(border.name(QColor::HexArgb), accent.name(), first, last,
                           palette().color(QPalette::WindowText).name()));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* layout = new QHBoxLayout();
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    column->addLayout(layout);
    for (const auto& [mode, label] : segments) {
        auto* button = new QPushButton(label, this);
        nameWidget(*button, objectNameFor(mode), label);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->installEventFilter(this);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        layout->addWidget(button, 1);
        buttons_.emplace_back(mode, button);
        const AppMode target = mode;
        connect(button, &QPushButton::clicked, this, [this, target] {
            model_.setMode(target);
            // The highlight follows the model, not the button's own toggling.
            refresh();
        });
    }
    otherMode_ = makeSecondaryLabel(QString(), this, -1);
    otherMode_->setObjectName(QStringLiteral("modeInForceLabel"));
    otherMode_->setAlignment(Qt::AlignHCenter);
    column->addWidget(otherMode_);
    refresh();
}

bool ModePicker::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* button = qobject_cast<QPushButton*>(watched);
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            chooseNeighbour(button, -1);
            return true;
        case Qt::Key_Right:
        case Qt::Key_Down:
            chooseNeighbour(button, 1);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ModePicker::chooseNeighbour(QPushButton* from, int step) {
    const auto at = std::find_if(buttons_.begin(), buttons_.end(),
                                 [from](const auto& entry) { return entry.second == from; });
    if (at == buttons_.end()) {
        return;
    }
    const auto index = std::distance(buttons_.begin(), at) + step;
    // The ends stay put, as a radio group's do on the desktops we run on.
    if (index < 0 || index >= static_cast<std::ptrdiff_t>(buttons_.size())) {
        return;
    }
    const auto& [mode, button] = buttons_[static_cast<std::size_t>(index)];
    button->setFocus(Qt::TabFocusReason);
    model_.setMode(mode);
    refresh();
}

void ModePicker::refresh() {
    bool shown = false;
    for (const auto& [mode, button] : buttons_) {
        const bool isSelected = mode == model_.mode();
        shown = shown || isSelected;
        if (button->isChecked() != isSelected) {
            button->setChecked(isSelected);
        }
    }
    if (!shown) {
        otherMode_->setText(tr("Mode: %1").arg(model_.wording().modeName(model_.mode())));
    }
    otherMode_->setVisible(!shown);
}

} // namespace nodwarden::app
