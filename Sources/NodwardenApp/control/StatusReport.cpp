#include <NodwardenApp/control/StatusReport.hpp>

#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModeWords.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>
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
        // Whole seconds truncated, as the ledger's worked_s.
        {QStringLiteral("durationSeconds"),
         qint64(std::trunc(std::max(run->workedSeconds(), 0.0)))},
        {QStringLiteral("endedAt"), StatusReport::isoTime(run->endedAt())},
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

QJsonValue StatusReport::isoTime(std::optional<Date> date) {
    if (!date) {
        return QJsonValue::Null;
    }
    const auto unixSeconds = qint64(std::floor(unixTimeFromDate(*date)));
    return QDateTime::fromSecsSinceEpoch(unixSeconds, Qt::UTC).toString(Qt::ISODate);
}

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
        {QStringLiteral("graceEndsAt"), isoTime(model.graceEndsAt())},
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

Date StatusReport::currentTime() {
    return dateFromUnixTime(double(QDateTime::currentMSecsSinceEpoch()) / 1000);
}

std::optional<Date> StatusReport::time(const QJsonObject& report, const char* key) {
    const QDateTime time =
        QDateTime::fromString(report.value(QString::fromUtf8(key)).toString(), Qt::ISODate);
    if (!time.isValid()) {
        return std::nullopt;
    }
    return dateFromUnixTime(double(time.toSecsSinceEpoch()));
}

QString StatusReport::headline(const QJsonObject& report, Date now) {
    // Every value may hold text from outside (an agent's or a command's name, a reason, a
    // forged row): shown safely, while the JSON keeps it exact.
    const auto field = [&report](const char* key) {
        return shownOnTerminal(report.value(QString::fromUtf8(key)).toString());
    };
    QString text = field("statusName") + QStringLiteral(" — ") + field("reason") +
                   QStringLiteral(" · ") + field("agentSummary");
    if (const auto graceEnds = time(report, "graceEndsAt")) {
        text += QStringLiteral(" · ") +
                QString::fromStdString(PanelTexts::graceCountdown(*graceEnds - now));
    }
    return text;
}

QString StatusReport::text(const QJsonObject& report, Date now) {
    const auto field = [&report](const char* key) {
        return shownOnTerminal(report.value(QString::fromUtf8(key)).toString());
    };
    const auto member = [](const QJsonObject& object, const char* key) {
        return shownOnTerminal(object.value(QString::fromUtf8(key)).toString());
    };
    QString text = headline(report, now) + u'\n';
    text += QStringLiteral("Mode: ") + field("mode");
    if (const auto until = time(report, "keepAwakeUntil")) {
        text += u' ' + QString::fromStdString(PanelTexts::timedKeepAwakeLeft(*until, now)) +
                QStringLiteral(", then ") + field("modeAfter");
    }
    text += u'\n';
    const QJsonArray agents = report.value(QStringLiteral("agents")).toArray();
    for (const QJsonValueConstRef value : agents) {
        const QJsonObject agent = value.toObject();
        QString state = member(agent, "state");
        if (state == u"waiting") {
            state = QStringLiteral("waiting for you");
        }
        text += QStringLiteral("  ") + member(agent, "name") + QStringLiteral(": ") + state +
                QStringLiteral(" — ") + member(agent, "reason");
        if (const QString witness = member(agent, "decidedBy"); !witness.isEmpty()) {
            text += QStringLiteral(" (decided by ") + witness + u')';
        }
        text += u'\n';
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
