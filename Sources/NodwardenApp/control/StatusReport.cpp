#include <NodwardenApp/control/StatusReport.hpp>

#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModeWords.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>

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

/// Each lock the keep-awake helpers hold or want, and whether this desktop heeds it.
QJsonArray locks(const AppModel& model) {
    QJsonArray locks;
    for (const KeepAwakeLock& lock : model.keepAwakeLocks().locks) {
        locks.append(QJsonObject{{QStringLiteral("service"), utf8(lock.service)},
                                 {QStringLiteral("kind"), utf8(lock.kind)},
                                 {QStringLiteral("held"), lock.held},
                                 {QStringLiteral("honoured"), lock.honoured}});
    }
    return locks;
}

/// "Locks: org.freedesktop.login1 sleep (held), org.freedesktop.ScreenSaver idle (not held)";
/// a lock this desktop does not heed says so.
QString locksLine(const QJsonArray& locks) {
    QString line;
    for (const QJsonValueConstRef value : locks) {
        const QJsonObject lock = value.toObject();
        line += (line.isEmpty() ? QStringLiteral("Locks: ") : QStringLiteral(", ")) +
                lock.value(QStringLiteral("service")).toString() + u' ' +
                lock.value(QStringLiteral("kind")).toString() + QStringLiteral(" (") +
                (lock.value(QStringLiteral("held")).toBool() ? QStringLiteral("held")
                                                             : QStringLiteral("not held")) +
                (lock.value(QStringLiteral("honoured")).toBool()
                     ? QString()
                     : QStringLiteral(", not heeded here")) +
                u')';
    }
    return line;
}

} // namespace

QJsonObject StatusReport::fromModel(const AppModel& model) {
    QJsonArray agents;
    for (const AgentStatusRow& row : model.agentRows()) {
        agents.append(QJsonObject{{QStringLiteral("name"), utf8(row.name)},
                                  {QStringLiteral("state"), utf8(row.state)},
                                  {QStringLiteral("working"), row.isWorking},
                                  {QStringLiteral("reason"), utf8(row.detail)},
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
        {QStringLiteral("keepingAwake"), model.isKeptAwake()},
        {QStringLiteral("locks"), locks(model)},
        {QStringLiteral("lockWarning"), optionalText(model.lockWarning())},
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
    // Every value may hold text from outside (an agent's or a command's name, a reason, a
    // forged row): shown safely, while the JSON keeps it exact.
    const auto field = [&report](const char* key) {
        return shownOnTerminal(report.value(QString::fromUtf8(key)).toString());
    };
    const auto member = [](const QJsonObject& object, const char* key) {
        return shownOnTerminal(object.value(QString::fromUtf8(key)).toString());
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
        text += QStringLiteral("  ") + member(agent, "name") + QStringLiteral(": ") +
                member(agent, "state") + QStringLiteral(" — ") + member(agent, "reason") + u'\n';
    }
    const QJsonObject power = report.value(QStringLiteral("power")).toObject();
    text += QStringLiteral("Power: ") + member(power, "description");
    if (report.value(QStringLiteral("batteryWarning")).toBool()) {
        text += QStringLiteral(" (battery warning)");
    }
    text += u'\n';
    QString lid = field("lid");
    if (!lid.isEmpty()) {
        lid[0] = lid[0].toUpper();
    }
    text += QStringLiteral("Lid: ") + lid + u'\n';
    if (const QString line = locksLine(report.value(QStringLiteral("locks")).toArray());
        !line.isEmpty()) {
        text += line + u'\n';
    }
    if (const QString warning = field("lockWarning"); !warning.isEmpty()) {
        text += warning + u'\n';
    }
    const QJsonValue lastRun = report.value(QStringLiteral("lastRun"));
    if (lastRun.isObject()) {
        text += QStringLiteral("Last run: ") + member(lastRun.toObject(), "agent") +
                QStringLiteral(", ") + member(lastRun.toObject(), "detail") + u'\n';
    } else {
        text += QStringLiteral("Last run: none yet\n");
    }
    if (const QString message = field("launchAtLoginMessage"); !message.isEmpty()) {
        text += message + u'\n';
    }
    return text;
}

} // namespace nodwarden::app
