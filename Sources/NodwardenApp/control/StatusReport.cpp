#include <NodwardenApp/control/StatusReport.hpp>

#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModeWords.hpp>

#include <QDateTime>
#include <QJsonArray>

#include <cmath>

#include <unistd.h>

namespace nodwarden::app {

namespace {

QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

/// The session count of the agent's strongest signal, the one its row was built from.
QJsonValue sessions(const AppModel& model, const std::string& name) {
    const ActivitySignal* strongest = nullptr;
    for (const ActivitySignal& signal : model.lastPerApp()) {
        if (signal.appName == name &&
            (strongest == nullptr || signal.strength > strongest->strength)) {
            strongest = &signal;
        }
    }
    if (strongest == nullptr || !strongest->sessionCount) {
        return QJsonValue::Null;
    }
    return *strongest->sessionCount;
}

QJsonValue optionalText(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

/// ISO 8601 in UTC to the second ("2026-12-08T19:00:00Z"), what `date -d` and every JSON reader
/// take; none for no time.
QJsonValue isoTime(std::optional<Date> date) {
    if (!date) {
        return QJsonValue::Null;
    }
    const auto unixSeconds = qint64(std::floor(unixTimeFromDate(*date)));
    return QDateTime::fromSecsSinceEpoch(unixSeconds, Qt::UTC).toString(Qt::ISODate);
}

/// The last run, its prose for people and its facts for scripts.
QJsonValue lastRun(const AppModel& model) {
    const auto& run = model.metrics().lastRun();
    if (!run) {
        return QJsonValue::Null;
    }
    return QJsonObject{
        {QStringLiteral("agent"), model.panelLastRunAgent()},
        {QStringLiteral("detail"), model.panelLastRunDetail()},
        {QStringLiteral("agentName"), run->agentDisplayName()
                                          ? QJsonValue(utf8(*run->agentDisplayName()))
                                          : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("durationSeconds"), qint64(std::llround(run->workedSeconds()))},
        {QStringLiteral("endedAt"), isoTime(run->endedAt())},
    };
}

} // namespace

QJsonObject StatusReport::fromModel(const AppModel& model) {
    QJsonArray agents;
    for (const AgentStatusRow& row : model.agentRows()) {
        agents.append(QJsonObject{
            {QStringLiteral("name"), utf8(row.name)},
            {QStringLiteral("state"), row.isWaiting ? QStringLiteral("waiting") : utf8(row.state)},
            {QStringLiteral("working"), row.isWorking},
            {QStringLiteral("reason"), utf8(row.detail)},
            {QStringLiteral("decidedBy"), row.decidedBy.empty() ? QJsonValue(QJsonValue::Null)
                                                                : QJsonValue(utf8(row.decidedBy))},
            {QStringLiteral("sessions"), sessions(model, row.name)}});
    }
    const QJsonValue percent =
        model.batteryPercent() ? QJsonValue(*model.batteryPercent()) : QJsonValue(QJsonValue::Null);
    return QJsonObject{
        {QStringLiteral("running"), true},
        {QStringLiteral("pid"), qint64(::getpid())},
        {QStringLiteral("version"), QString::fromUtf8(BuildInfo::version)},
        {QStringLiteral("status"), utf8(rawValue(model.status()))},
        {QStringLiteral("statusName"), utf8(displayName(model.status()))},
        {QStringLiteral("statusSince"), isoTime(model.statusSince())},
        {QStringLiteral("keepingAwakeSince"), isoTime(model.guardingSince())},
        {QStringLiteral("reason"), model.statusReason()},
        {QStringLiteral("mode"), utf8(modeWord(model.mode()))},
        {QStringLiteral("keepAwakeUntil"), isoTime(model.timedKeepAwakeUntil())},
        {QStringLiteral("modeAfter"),
         model.modeAfterTimedKeepAwake()
             ? QJsonValue(utf8(modeWord(*model.modeAfterTimedKeepAwake())))
             : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("termsAccepted"), !model.needsLegalAcceptance()},
        {QStringLiteral("keepingAwake"), model.sleepPreventionEnabled()},
        {QStringLiteral("agentSummary"), model.agentSummary()},
        {QStringLiteral("agents"), agents},
        {QStringLiteral("power"),
         QJsonObject{{QStringLiteral("onACPower"), model.isOnACPower()},
                     {QStringLiteral("batteryPercent"), percent},
                     {QStringLiteral("description"), model.batteryDescription()}}},
        {QStringLiteral("lid"), model.lidDescription().toLower()},
        {QStringLiteral("batteryWarning"), model.isBatteryWarning()},
        {QStringLiteral("lastRun"), lastRun(model)},
        {QStringLiteral("launchAtLogin"), model.settings().launchAtLoginEnabled},
        {QStringLiteral("launchAtLoginMessage"), optionalText(model.launchAtLoginMessage())},
    };
}

QString StatusReport::text(const QJsonObject& report) {
    const auto field = [&report](const char* key) {
        return report.value(QString::fromUtf8(key)).toString();
    };
    QString text = field("statusName") + QStringLiteral(" — ") + field("reason") +
                   QStringLiteral(" · ") + field("agentSummary") + u'\n';
    text += QStringLiteral("Mode: ") + field("mode");
    if (const QString until = field("keepAwakeUntil"); !until.isEmpty()) {
        text += QStringLiteral(" until ") + until + QStringLiteral(", then ") + field("modeAfter");
    }
    text += u'\n';
    const QJsonArray agents = report.value(QStringLiteral("agents")).toArray();
    for (const QJsonValueConstRef value : agents) {
        const QJsonObject agent = value.toObject();
        QString state = agent.value(QStringLiteral("state")).toString();
        if (state == u"waiting") {
            state = QStringLiteral("waiting for you");
        }
        text += QStringLiteral("  ") + agent.value(QStringLiteral("name")).toString() +
                QStringLiteral(": ") + state + QStringLiteral(" — ") +
                agent.value(QStringLiteral("reason")).toString();
        if (const QString witness = agent.value(QStringLiteral("decidedBy")).toString();
            !witness.isEmpty()) {
            text += QStringLiteral(" (decided by ") + witness + u')';
        }
        text += u'\n';
    }
    const QJsonObject power = report.value(QStringLiteral("power")).toObject();
    text += QStringLiteral("Power: ") + power.value(QStringLiteral("description")).toString();
    if (report.value(QStringLiteral("batteryWarning")).toBool()) {
        text += QStringLiteral(" (battery warning)");
    }
    text += u'\n';
    QString lid = field("lid");
    if (!lid.isEmpty()) {
        lid[0] = lid[0].toUpper();
    }
    text += QStringLiteral("Lid: ") + lid + u'\n';
    const QJsonValue lastRun = report.value(QStringLiteral("lastRun"));
    if (lastRun.isObject()) {
        text += QStringLiteral("Last run: ") +
                lastRun.toObject().value(QStringLiteral("agent")).toString() +
                QStringLiteral(", ") +
                lastRun.toObject().value(QStringLiteral("detail")).toString() + u'\n';
    } else {
        text += QStringLiteral("Last run: none yet\n");
    }
    if (const QString message = field("launchAtLoginMessage"); !message.isEmpty()) {
        text += message + u'\n';
    }
    return text;
}

} // namespace nodwarden::app
