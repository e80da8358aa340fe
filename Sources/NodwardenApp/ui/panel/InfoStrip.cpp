#include <NodwardenApp/ui/panel/InfoStrip.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>
#include <NodwardenApp/ui/panel/SymbolLabel.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace nodwarden::app {

namespace {

constexpr int factSymbolSize = 16;
constexpr int factDividerHeight = 24;

QFrame* verticalDivider(QWidget* parent) {
    auto* line = makeDivider(parent);
    line->setFixedSize(1, factDividerHeight);
    return line;
}

} // namespace

InfoStrip::InfoStrip(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    nameWidget(*this, QStringLiteral("infoStrip"), tr("Power facts"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    power_ = addFact(QStringLiteral("infoPower"), tr("Power"));
    layout->addWidget(verticalDivider(this), 0, Qt::AlignVCenter);
    sleep_ = addFact(QStringLiteral("infoSleep"), tr("Sleep"));
    layout->addWidget(verticalDivider(this), 0, Qt::AlignVCenter);
    lid_ = addFact(QStringLiteral("infoLid"), tr("Lid"));
    refresh();
}

InfoStrip::Fact InfoStrip::addFact(const QString& objectName, const QString& caption) {
    auto* box = new QWidget(this);
    nameWidget(*box, objectName, caption);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    Fact fact{new SymbolLabel(QStringLiteral("circle"), factSymbolSize,
                              Theme::secondaryText(palette()), box),
              new QLabel(box), makeSecondaryLabel(caption, box, -1)};
    fact.value->setObjectName(objectName + QStringLiteral("Value"));
    fact.value->setAlignment(Qt::AlignCenter);
    fact.caption->setObjectName(objectName + QStringLiteral("Caption"));
    fact.caption->setAlignment(Qt::AlignCenter);
    // The box speaks for all three; the parts alone would be read as "Normal", "Sleep".
    fact.symbol->setAccessibleName(QString());
    column->addWidget(fact.symbol, 0, Qt::AlignHCenter);
    column->addWidget(fact.value, 0, Qt::AlignHCenter);
    column->addWidget(fact.caption, 0, Qt::AlignHCenter);
    static_cast<QHBoxLayout*>(layout())->addWidget(box, 1);
    return fact;
}

void InfoStrip::show(Fact& fact, const QString& symbol, const QString& value, const QColor& tint) {
    fact.symbol->setSymbol(symbol, tint);
    if (fact.value->text() != value) {
        fact.value->setText(value);
    }
    setTextColor(*fact.value, tint);
    QWidget* box = fact.value->parentWidget();
    box->setAccessibleName(tr("%1: %2").arg(fact.caption->text(), value));
    box->setAccessibleDescription(value);
    fact.value->setAccessibleName(box->accessibleName());
}

void InfoStrip::refresh() {
    const QColor secondary = Theme::secondaryText(palette());
    const auto percent = model_.published().batteryPercent();
    show(power_,
         model_.published().isOnACPower() ? QStringLiteral("powerplug.fill")
                                          : QStringLiteral("battery.100"),
         percent ? QString::number(*percent) + QLatin1Char('%') : QStringLiteral("—"),
         model_.published().isBatteryWarning() ? Theme::textTone(Theme::orange(), palette())
                                               : secondary);
    const bool blocked = model_.isKeptAwake();
    show(sleep_, QStringLiteral("moon.fill"), blocked ? tr("Blocked") : tr("Normal"),
         blocked ? Theme::textTone(Theme::green(), palette()) : secondary);
    show(lid_, QStringLiteral("laptopcomputer"), model_.published().lidDescription(), secondary);
}

} // namespace nodwarden::app
