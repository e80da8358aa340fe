#include "SettingsWidgets.hpp"

#include <QCoreApplication>

#include "SettingsStyle.hpp"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace nodwarden::app {

namespace {

QLabel* scaleLabel(const QString& text, Qt::Alignment alignment, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(alignment);
    SettingsStyle::makeSecondary(*label);
    return label;
}

QSlider* steppedSlider(int steps, const QString& name, const QString& title, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    // The slider moves over step indices, so every position it can take is a whole step.
    slider->setRange(0, steps);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    slider->setObjectName(name);
    slider->setAccessibleName(title);
    return slider;
}

QHBoxLayout* titleRow(const QString& title, QLabel* value, QWidget* parent) {
    auto* row = new QHBoxLayout;
    auto* titleLabel = new QLabel(title, parent);
    row->addWidget(titleLabel);
    row->addStretch();
    row->addWidget(value);
    return row;
}

/// Names `row` and its value label, and lays out the title line over the slider; the caller adds
/// its scale below.
QVBoxLayout* sliderRowLayout(QWidget* row, const QString& title, const QString& baseName,
                             QLabel* value, QSlider* slider) {
    row->setObjectName(baseName);
    row->setAccessibleName(title);
    value->setObjectName(baseName + QStringLiteral("Value"));
    value->setAccessibleName(QCoreApplication::translate("Settings", "%1 value").arg(title));
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(titleRow(title, value, row));
    layout->addWidget(slider);
    return layout;
}

} // namespace

SettingsBox::SettingsBox(const QString& title, const QString& symbolName, const QString& objectName,
                         QWidget* parent)
    : QFrame(parent), icon_(new QLabel(this)), content_(new QVBoxLayout) {
    setObjectName(objectName);
    setAccessibleName(title);
    setFrameShape(QFrame::StyledPanel);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 10, 12, 12);
    outer->setSpacing(8);
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(icon_);
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(objectName + QStringLiteral("Title"));
    QFont font = titleLabel->font();
    font.setBold(true);
    titleLabel->setFont(font);
    header->addWidget(titleLabel);
    header->addStretch();
    outer->addLayout(header);
    content_->setSpacing(6);
    outer->addLayout(content_);
    setSymbol(symbolName);
}

void SettingsBox::setSymbol(const QString& symbolName, const QColor& color) {
    if (symbolName == symbol_ && color == symbolColor_ && !icon_->pixmap().isNull()) {
        return;
    }
    symbol_ = symbolName;
    symbolColor_ = color;
    icon_->setVisible(!symbolName.isEmpty());
    icon_->setPixmap(SettingsStyle::symbolIcon(symbolName, color).pixmap(16, 16));
    // Decorative: the box's title already says what the icon shows.
    icon_->setAccessibleName(QString());
}

PercentageSliderRow::PercentageSliderRow(const QString& title, const QString& help,
                                         const QString& baseName, QWidget* parent)
    : QWidget(parent), value_(new QLabel(this)),
      slider_(steppedSlider(100 / 5, baseName + QStringLiteral("Slider"), title, this)) {
    auto* layout = sliderRowLayout(this, title, baseName, value_, slider_);
    auto* scale = new QHBoxLayout;
    scale->addWidget(scaleLabel(QStringLiteral("0"), Qt::AlignLeft, this), 1);
    scale->addWidget(scaleLabel(QStringLiteral("50"), Qt::AlignHCenter, this), 1);
    scale->addWidget(scaleLabel(QStringLiteral("100"), Qt::AlignRight, this), 1);
    layout->addLayout(scale);
    if (!help.isEmpty()) {
        layout->addWidget(SettingsUi::note(help, baseName + QStringLiteral("Help"), this));
    }
    connect(slider_, &QSlider::valueChanged, this, [this](int index) {
        value_->setText(QString::number(index * 5) + QStringLiteral("%"));
        if (onEdited) {
            onEdited(index * 5);
        }
    });
}

void PercentageSliderRow::setValue(double percent) {
    value_->setText(QString::number(static_cast<long long>(percent)) + QStringLiteral("%"));
    const QSignalBlocker blocker(slider_);
    slider_->setValue(static_cast<int>(std::lround(std::clamp(percent, 0.0, 100.0) / 5)));
}

DurationSliderRow::DurationSliderRow(const QString& title, const QString& baseName, QWidget* parent)
    : QWidget(parent), value_(new QLabel(this)),
      slider_(steppedSlider((maximumSeconds - minimumSeconds) / step,
                            baseName + QStringLiteral("Slider"), title, this)) {
    auto* layout = sliderRowLayout(this, title, baseName, value_, slider_);
    auto* scale = new QHBoxLayout;
    scale->addWidget(scaleLabel(tr("10 sec"), Qt::AlignLeft, this));
    scale->addStretch();
    scale->addWidget(scaleLabel(tr("15 min"), Qt::AlignRight, this));
    layout->addLayout(scale);
    connect(slider_, &QSlider::valueChanged, this, [this](int index) {
        const int seconds = minimumSeconds + index * step;
        value_->setText(QString::number(seconds) + tr(" sec"));
        if (onEdited) {
            onEdited(seconds);
        }
    });
}

void DurationSliderRow::setValue(double seconds) {
    value_->setText(QString::number(static_cast<long long>(seconds)) + tr(" sec"));
    const double clamped = std::clamp(seconds, double(minimumSeconds), double(maximumSeconds));
    const QSignalBlocker blocker(slider_);
    slider_->setValue(static_cast<int>(std::lround((clamped - minimumSeconds) / step)));
}

namespace SettingsUi {

QLabel* label(const QString& text, const QString& objectName, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setObjectName(objectName);
    result->setAccessibleName(text);
    result->setWordWrap(true);
    result->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Never squeezed below its text: a tab taller than the window scrolls instead.
    result->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return result;
}

QLabel* note(const QString& text, const QString& objectName, QWidget* parent) {
    QLabel* result = label(text, objectName, parent);
    SettingsStyle::makeSecondary(*result);
    return result;
}

QCheckBox* checkBox(const QString& text, const QString& objectName, QWidget* parent) {
    auto* result = new QCheckBox(text, parent);
    // As wide as its text: a click in the empty space beside a toggle does not flip it.
    result->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    result->setObjectName(objectName);
    result->setAccessibleName(text);
    return result;
}

QPushButton* button(const QString& text, const QString& objectName, QWidget* parent) {
    auto* result = new QPushButton(text, parent);
    result->setObjectName(objectName);
    result->setAccessibleName(text);
    result->setAutoDefault(false);
    return result;
}

QLabel* symbol(const QString& symbolName, QWidget* parent, int size, const QColor& color) {
    auto* result = new QLabel(parent);
    result->setPixmap(SettingsStyle::symbolIcon(symbolName, color).pixmap(size, size));
    result->setFixedSize(size, size);
    // Decorative unless the caller names it; a symbol's name means nothing read aloud.
    result->setAccessibleName(QString());
    return result;
}

QScrollArea* pane(QWidget* content, const QString& objectName) {
    auto* area = new QScrollArea;
    area->setObjectName(objectName);
    area->setAccessibleName(objectName);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(content);
    return area;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace SettingsUi
} // namespace nodwarden::app
