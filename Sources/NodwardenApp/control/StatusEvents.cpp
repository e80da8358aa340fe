#include <NodwardenApp/control/StatusEvents.hpp>

#include <NodwardenApp/control/StatusReport.hpp>
#include <NodwardenApp/model/AppModel.hpp>

#include <QJsonArray>
#include <QTimer>

#include <utility>

namespace nodwarden::app {

namespace {

/// Each agent's name and state, what an agent's change is judged by: its details (the text on
/// its screen, its session count) come and go with every pass.
QJsonArray agentStates(const QJsonObject& report) {
    QJsonArray states;
    for (const QJsonValueConstRef row : report.value(QStringLiteral("agents")).toArray()) {
        const QJsonObject agent = row.toObject();
        states.append(
            QJsonArray{agent.value(QStringLiteral("name")), agent.value(QStringLiteral("state"))});
    }
    return states;
}

} // namespace

StatusEvents::StatusEvents(AppModel& model, QJsonObject first, QJsonObject firstShown, Send send)
    : QObject(&model), model_(model), last_(std::move(first)), lastShown_(std::move(firstShown)),
      send_(std::move(send)) {
    for (auto signal : {&PublishedStatus::statusChanged, &PublishedStatus::statusReasonChanged,
                        &PublishedStatus::agentRowsChanged}) {
        connect(&model.published(), signal, this, &StatusEvents::schedule);
    }
    connect(&model, &AppModel::modeChanged, this, &StatusEvents::schedule);
    connect(&model.timedKeepAwake(), &TimedKeepAwake::changed, this, &StatusEvents::schedule);
}

QJsonObject StatusEvents::changes(const QJsonObject& before, const QJsonObject& now,
                                  const QString& at) {
    bool awaited = agentStates(before) != agentStates(now);
    for (const char* key : {"status", "reason", "mode", "keepAwakeUntil"}) {
        const QString name = QString::fromUtf8(key);
        awaited = awaited || before.value(name) != now.value(name);
    }
    if (!awaited) {
        return {};
    }
    QJsonObject line = differing(before, now);
    line.insert(QStringLiteral("at"), at);
    return line;
}

QJsonObject StatusEvents::differing(const QJsonObject& before, const QJsonObject& now) {
    QJsonObject line;
    for (auto entry = now.begin(); entry != now.end(); ++entry) {
        if (before.value(entry.key()) != entry.value()) {
            line.insert(entry.key(), entry.value());
        }
    }
    return line;
}

void StatusEvents::schedule() {
    if (scheduled_) {
        return;
    }
    scheduled_ = true;
    // After the evaluation that emitted the change has published all it will.
    QTimer::singleShot(0, this, &StatusEvents::sendIfChanged);
}

void StatusEvents::sendIfChanged() {
    scheduled_ = false;
    QJsonObject now = StatusReport::forScripts(model_);
    QJsonObject line = changes(last_, now, StatusReport::isoTime(model_.currentTime()).toString());
    if (line.isEmpty()) {
        return;
    }
    QJsonObject shownNow = StatusReport::fromModel(model_);
    if (const QJsonObject shown = differing(lastShown_, shownNow); !shown.isEmpty()) {
        line.insert(QStringLiteral("shown"), shown);
    }
    last_ = std::move(now);
    lastShown_ = std::move(shownNow);
    send_(line);
}

} // namespace nodwarden::app
