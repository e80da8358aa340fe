#include <NodwardenApp/ui/panel/StatusPanelModePicker.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QHBoxLayout>
#include <QPushButton>

namespace nodwarden::app {

namespace {

struct Segment {
    const char* label;
    const char* objectName;
    AppMode mode;
};

constexpr std::array<Segment, 3> segments = {{
    {"Watch", "modeWatchButton", AppMode::watchAgentUI},
    {"Awake", "modeAwakeButton", AppMode::manualKeepAwake},
    {"Off", "modeOffButton", AppMode::off},
}};

} // namespace

int ModePicker::segment(AppMode mode) {
    switch (mode) {
    case AppMode::watchAgentUI:
    case AppMode::sleepAfterCurrentWork:
        return 0;
    case AppMode::manualKeepAwake:
    case AppMode::pluggedInUnlimited:
        return 1;
    case AppMode::off:
        return 2;
    }
    return 2;
}

AppMode ModePicker::modeForSegment(int segment) {
    return segments.at(std::size_t(segment)).mode;
}

ModePicker::ModePicker(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    nameWidget(*this, QStringLiteral("modePicker"), QStringLiteral("Mode"));
    const QColor accent = Theme::brandAccent();
    const QColor border = Theme::withOpacity(palette().color(QPalette::WindowText), 0.18);
    setStyleSheet(QStringLiteral("QPushButton { border: 1px solid %1; padding: 5px 0px; "
                                 "background: transparent; }"
                                 "QPushButton:checked { background: %2; color: white; "
                                 "border-color: %2; font-weight: bold; }"
                                 "QPushButton#modeWatchButton { border-top-left-radius: 7px; "
                                 "border-bottom-left-radius: 7px; }"
                                 "QPushButton#modeOffButton { border-top-right-radius: 7px; "
                                 "border-bottom-right-radius: 7px; }")
                      .arg(border.name(QColor::HexArgb), accent.name()));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (std::size_t index = 0; index < segments.size(); ++index) {
        const Segment& entry = segments[index];
        const QString label = QString::fromLatin1(entry.label);
        auto* button = new QPushButton(label, this);
        nameWidget(*button, QString::fromLatin1(entry.objectName), label);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        layout->addWidget(button, 1);
        buttons_[index] = button;
        const AppMode target = entry.mode;
        connect(button, &QPushButton::clicked, this, [this, target] {
            model_.setMode(target);
            // The highlight follows the model, not the button's own toggling.
            refresh();
        });
    }
    refresh();
}

void ModePicker::refresh() {
    const int selected = segment(model_.mode());
    for (std::size_t index = 0; index < buttons_.size(); ++index) {
        const bool isSelected = int(index) == selected;
        if (buttons_[index]->isChecked() != isSelected) {
            buttons_[index]->setChecked(isSelected);
        }
    }
}

} // namespace nodwarden::app
