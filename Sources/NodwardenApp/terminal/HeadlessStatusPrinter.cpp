#include <NodwardenApp/terminal/HeadlessStatusPrinter.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>

#include <QTimer>

namespace nodwarden::app {

HeadlessStatusPrinter::HeadlessStatusPrinter(AppModel& model, std::FILE* output)
    : QObject(&model), model_(model), output_(output) {
    for (auto signal : {&PublishedStatus::statusChanged, &PublishedStatus::statusReasonChanged,
                        &PublishedStatus::agentRowsChanged}) {
        connect(&model.published(), signal, this, &HeadlessStatusPrinter::schedule);
    }
    schedule();
}

QString HeadlessStatusPrinter::formatLine(const QString& statusName, const QString& reason,
                                          const QString& agentSummary) {
    return statusName + QStringLiteral(" — ") + shownOnTerminal(reason) + QStringLiteral(" · ") +
           shownOnTerminal(agentSummary);
}

void HeadlessStatusPrinter::schedule() {
    if (scheduled_) {
        return;
    }
    scheduled_ = true;
    // After the evaluation that emitted the change has published everything it will.
    QTimer::singleShot(0, this, &HeadlessStatusPrinter::printIfChanged);
}

void HeadlessStatusPrinter::setHeld(bool held) {
    held_ = held;
    if (!held_) {
        schedule();
    }
}

void HeadlessStatusPrinter::printIfChanged() {
    scheduled_ = false;
    if (held_) {
        return;
    }
    const QString base =
        formatLine(ReasonTexts::statusName(model_.published().status(), model_.wording()),
                   model_.published().statusReason(), model_.published().agentSummary());
    if (base == lastBase_) {
        return;
    }
    lastBase_ = base;
    QString line = base;
    if (const auto graceEnds = model_.graceEndsAt()) {
        // The time left as the grace begins; the line is not written again as it runs down.
        line +=
            QStringLiteral(" · ") +
            QString::fromStdString(PanelTexts::graceCountdown(*graceEnds - model_.currentTime()));
    }
    lastLine_ = line;
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), output_);
    std::fflush(output_);
}

} // namespace nodwarden::app
