#include <NodwardenApp/control/StatusReport.hpp>

#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModeWords.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PanelTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenApp/model/SourceLanguage.hpp>

#include <QCoreApplication>
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
        {QStringLiteral("agent"), PanelTexts::panelLastRunAgent(model)},
        {QStringLiteral("detail"), PanelTexts::panelLastRunDetail(model)},
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
    for (const KeepAwakeLock& lock : model.published().keepAwakeLocks().locks) {
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
    QStringList named;
    for (const QJsonValueConstRef value : locks) {
        const QJsonObject lock = value.toObject();
        const bool held = lock.value(QStringLiteral("held")).toBool();
        const QString how =
            lock.value(QStringLiteral("honoured")).toBool()
                ? (held ? QCoreApplication::translate("StatusReport", "held")
                        : QCoreApplication::translate("StatusReport", "not held"))
                : (held ? QCoreApplication::translate("StatusReport", "held, not heeded here")
                        : QCoreApplication::translate("StatusReport", "not held, not heeded here"));
        named.append(shownOnTerminal(lock.value(QStringLiteral("service")).toString()) + u' ' +
                     shownOnTerminal(lock.value(QStringLiteral("kind")).toString()) +
                     QStringLiteral(" (") + how + u')');
    }
    if (named.isEmpty()) {
        return {};
    }
    return QCoreApplication::translate("StatusReport", "Locks: %1").arg(named.join(u", "));
}

/// A report of `texts`; the rest comes from the model as it is.
QJsonObject report(const AppModel& model, const PublishedStatus::Texts& texts);

/// A report value's text as people read it, safe on a terminal.
QString shown(const QJsonObject& object, const char* key) {
    return shownOnTerminal(object.value(QString::fromUtf8(key)).toString());
}

/// The lid's raw value in the user's words ("Open").
QString lidText(const QString& raw) {
    const auto lid = lidStateFromRawValue(raw.toStdString());
    return ReasonTexts::lidName(lid.value_or(LidState::unknown), PlatformWording::current());
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
    return report(model, {model.published().statusReason(), model.published().batteryDescription(),
                          model.published().agentRows(), model.launchAtLogin().message()});
}

QJsonObject StatusReport::forScripts(const AppModel& model) {
    const PublishedStatus::Texts texts = model.sourceTexts();
    return inSourceLanguage([&] { return report(model, texts); });
}

namespace {

QJsonObject report(const AppModel& model, const PublishedStatus::Texts& texts) {
    QJsonArray agents;
    for (const AgentStatusRow& row : texts.agentRows) {
        agents.append(QJsonObject{
            {QStringLiteral("name"), utf8(row.name)},
            {QStringLiteral("state"), row.isWaiting ? QStringLiteral("waiting") : utf8(row.state)},
            {QStringLiteral("working"), row.isWorking},
            {QStringLiteral("reason"), utf8(row.detail)},
            {QStringLiteral("decidedBy"), row.decidedBy.empty() ? QJsonValue(QJsonValue::Null)
                                                                : QJsonValue(utf8(row.decidedBy))},
            {QStringLiteral("sessions"), sessions(model, row.name)}});
    }
    const QJsonValue percent = model.published().batteryPercent()
                                   ? QJsonValue(*model.published().batteryPercent())
                                   : QJsonValue(QJsonValue::Null);
    return QJsonObject{
        {QStringLiteral("running"), true},
        {QStringLiteral("pid"), qint64(::getpid())},
        {QStringLiteral("version"), QString::fromUtf8(BuildInfo::version)},
        {QStringLiteral("status"), utf8(rawValue(model.published().status()))},
        {QStringLiteral("statusName"),
         ReasonTexts::statusName(model.published().status(), model.wording())},
        {QStringLiteral("statusSince"), StatusReport::isoTime(model.published().statusSince())},
        {QStringLiteral("keepingAwakeSince"),
         StatusReport::isoTime(model.sleepCommands().guardingSince())},
        {QStringLiteral("graceEndsAt"), StatusReport::isoTime(model.graceEndsAt())},
        {QStringLiteral("reason"), texts.statusReason},
        {QStringLiteral("mode"), utf8(modeWord(model.mode()))},
        {QStringLiteral("keepAwakeUntil"), StatusReport::isoTime(model.timedKeepAwake().until())},
        {QStringLiteral("modeAfter"),
         model.timedKeepAwake().modeAfter()
             ? QJsonValue(utf8(modeWord(*model.timedKeepAwake().modeAfter())))
             : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("termsAccepted"), !model.firstRun().needsLegalAcceptance()},
        {QStringLiteral("keepingAwake"), model.isKeptAwake()},
        {QStringLiteral("locks"), locks(model)},
        {QStringLiteral("lockWarning"), optionalText(model.published().lockWarning())},
        {QStringLiteral("agentSummary"),
         QString::fromStdString(PanelTexts::agentSummary(texts.agentRows))},
        {QStringLiteral("agents"), agents},
        {QStringLiteral("power"),
         QJsonObject{{QStringLiteral("onACPower"), model.published().isOnACPower()},
                     {QStringLiteral("batteryPercent"), percent},
                     {QStringLiteral("description"), texts.batteryDescription}}},
        {QStringLiteral("lid"), utf8(rawValue(model.published().lid()))},
        {QStringLiteral("batteryWarning"), model.published().isBatteryWarning()},
        {QStringLiteral("lastRun"), lastRun(model)},
        {QStringLiteral("launchAtLogin"), model.settings().launchAtLoginEnabled},
        {QStringLiteral("launchAtLoginMessage"), optionalText(texts.launchAtLoginMessage)},
    };
}

} // namespace

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
    QString text = shown(report, "statusName") + QStringLiteral(" — ") + shown(report, "reason") +
                   QStringLiteral(" · ") + shown(report, "agentSummary");
    if (const auto graceEnds = time(report, "graceEndsAt")) {
        text += QStringLiteral(" · ") +
                QString::fromStdString(PanelTexts::graceCountdown(*graceEnds - now));
    }
    return text;
}

QString StatusReport::text(const QJsonObject& report, Date now) {
    QString text = headline(report, now) + u'\n';
    if (const auto until = time(report, "keepAwakeUntil")) {
        text += QCoreApplication::translate("StatusReport", "Mode: %1 %2, then %3")
                    .arg(shown(report, "mode"),
                         QString::fromStdString(PanelTexts::timedKeepAwakeLeft(*until, now)),
                         shown(report, "modeAfter"));
    } else {
        text += QCoreApplication::translate("StatusReport", "Mode: %1").arg(shown(report, "mode"));
    }
    text += u'\n';
    const QJsonArray agents = report.value(QStringLiteral("agents")).toArray();
    for (const QJsonValueConstRef value : agents) {
        const QJsonObject agent = value.toObject();
        text += QStringLiteral("  ") + shown(agent, "name") + QStringLiteral(": ") +
                shownOnTerminal(ReasonTexts::agentState(shown(agent, "state").toStdString())) +
                QStringLiteral(" — ") + shown(agent, "reason");
        if (const QString witness = shown(agent, "decidedBy"); !witness.isEmpty()) {
            text +=
                u' ' + QCoreApplication::translate("StatusReport", "(decided by %1)").arg(witness);
        }
        text += u'\n';
    }
    const QJsonObject power = report.value(QStringLiteral("power")).toObject();
    const QString powerText = shown(power, "description");
    text += report.value(QStringLiteral("batteryWarning")).toBool()
                ? QCoreApplication::translate("StatusReport", "Power: %1 (battery warning)")
                      .arg(powerText)
                : QCoreApplication::translate("StatusReport", "Power: %1").arg(powerText);
    text += u'\n';
    text += QCoreApplication::translate("StatusReport", "Lid: %1")
                .arg(lidText(report.value(QStringLiteral("lid")).toString())) +
            u'\n';
    if (const QString line = locksLine(report.value(QStringLiteral("locks")).toArray());
        !line.isEmpty()) {
        text += line + u'\n';
    }
    if (const QString warning = shown(report, "lockWarning"); !warning.isEmpty()) {
        text += warning + u'\n';
    }
    const QJsonValue lastRun = report.value(QStringLiteral("lastRun"));
    if (lastRun.isObject()) {
        text += QCoreApplication::translate("StatusReport", "Last run: %1, %2")
                    .arg(shown(lastRun.toObject(), "agent"), shown(lastRun.toObject(), "detail")) +
                u'\n';
    } else {
        text += QCoreApplication::translate("StatusReport", "Last run: none yet") + u'\n';
    }
    if (const QString message = shown(report, "launchAtLoginMessage"); !message.isEmpty()) {
        text += message + u'\n';
    }
    return text;
}

} // namespace nodwarden::app
