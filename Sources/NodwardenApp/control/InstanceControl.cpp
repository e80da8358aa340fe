#include <NodwardenApp/control/InstanceControl.hpp>

#include <NodwardenApp/control/StatusEvents.hpp>
#include <NodwardenApp/control/StatusReport.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModeWords.hpp>
#include <NodwardenCore/hooks/HookWitness.hpp>

#include <QPointer>
#include <QTimer>

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace nodwarden::app {

namespace {

/// The longest timed keep-awake a command may ask for, as `stayloom awake --for` takes it.
constexpr double maxKeepAwakeSeconds = 7 * 24 * 3600;

/// A successful answer carrying the model's status as it stands: for scripts, and as the user
/// reads it.
QJsonObject statusAnswer(const AppModel& model) {
    return QJsonObject{{QStringLiteral("ok"), true},
                       {QStringLiteral("status"), StatusReport::forScripts(model)},
                       {QStringLiteral("shown"), StatusReport::fromModel(model)}};
}

ControlReply failure(const QString& error) {
    return {.body = QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}}};
}

/// A whole number from 0 to 2^53, where a JSON number is exact.
std::optional<std::uint64_t> wholeNumber(const QJsonValue& value) {
    constexpr double largest = 9007199254740992.0;
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!(number >= 0 && number <= largest) || number != std::floor(number)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(number);
}

} // namespace

InstanceControl::InstanceControl(AppModel& model, std::function<void(AppMode)> chooseMode,
                                 std::shared_ptr<HookWitness> hooks)
    : model_(model), chooseMode_(std::move(chooseMode)), hooks_(std::move(hooks)) {}

ControlReply InstanceControl::hookEvent(const QJsonObject& request) {
    const auto text = [&](const char* key) {
        return request.value(QLatin1String(key)).toString().toStdString();
    };
    const auto pid = wholeNumber(request.value(QStringLiteral("pid")));
    const auto start = wholeNumber(request.value(QStringLiteral("start")));
    if (!hooks_ || !pid || *pid == 0 || *pid > std::uint64_t(INT32_MAX) || !start) {
        return failure(QStringLiteral("hook needs an agent, an event, a pid and a start"));
    }
    // Sent by newer hooks only: without it events are taken as they arrive.
    const auto fired = wholeNumber(request.value(QStringLiteral("fired")));
    if (!hooks_->record({text("agent"), text("event"), text("session"),
                         static_cast<std::int32_t>(*pid), *start, text("kind"),
                         fired.value_or(0)})) {
        return failure(QStringLiteral("unknown agent"));
    }
    return {.body = QJsonObject{{QStringLiteral("ok"), true}}};
}

ControlReply InstanceControl::commandRun(const QJsonObject& request) {
    const auto pid = wholeNumber(request.value(QStringLiteral("pid")));
    const QString event = request.value(QStringLiteral("event")).toString();
    const QString name = request.value(QStringLiteral("name")).toString();
    if (!pid || *pid == 0 || *pid > std::uint64_t(INT32_MAX) || name.isEmpty() ||
        (event != u"started" && event != u"ended")) {
        return failure(QStringLiteral("run needs an event (started or ended), a name and a pid"));
    }
    if (event == u"started") {
        model_.commandRunStarted(static_cast<std::int32_t>(*pid), name.toStdString());
    } else {
        model_.commandRunEnded(static_cast<std::int32_t>(*pid));
    }
    return {.body = QJsonObject{{QStringLiteral("ok"), true}}};
}

ControlReply InstanceControl::report() const {
    return {.body = statusAnswer(model_)};
}

ControlReply InstanceControl::reportOnceWeighed() const {
    if (!model_.awaitsFirstEvaluation()) {
        return report();
    }
    // Right after the terms are accepted no pass has been weighed, and the status would still ask
    // for them; the answer waits for the first decision, within the connection's own time-out.
    ControlReply reply;
    reply.bodyLater = [model = &model_](std::function<void(QJsonObject)> answer) {
        auto pending = std::make_shared<std::function<void(QJsonObject)>>(std::move(answer));
        auto* waiting = new QObject(model);
        auto once = [model, waiting, pending] {
            if (const auto answerNow = std::exchange(*pending, nullptr)) {
                answerNow(statusAnswer(*model));
                waiting->deleteLater();
            }
        };
        QObject::connect(model, &AppModel::evaluated, waiting, once);
        QTimer::singleShot(firstDecisionWaitMilliseconds, waiting, once);
    };
    return reply;
}

ControlReply InstanceControl::events() const {
    ControlReply reply = report();
    reply.stream = [model = &model_, first = reply.body.value(QStringLiteral("status")).toObject(),
                    firstShown = reply.body.value(QStringLiteral("shown")).toObject()](
                       std::function<void(const QJsonObject&)> send) -> std::function<void()> {
        const QPointer<StatusEvents> follower =
            new StatusEvents(*model, first, firstShown, std::move(send));
        // The follower goes with the model should the model go first.
        return [follower] { delete follower.data(); };
    };
    return reply;
}

ControlReply InstanceControl::handle(const QJsonObject& request) {
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == u"status") {
        return report();
    }
    if (command == u"mode") {
        const auto mode =
            modeFromWord(request.value(QStringLiteral("mode")).toString().toStdString());
        if (!mode) {
            return failure(QStringLiteral("unknown mode"));
        }
        chooseMode_(*mode);
        return reportOnceWeighed();
    }
    if (command == u"awake") {
        const QJsonValue seconds = request.value(QStringLiteral("seconds"));
        if (!seconds.isDouble() || !(seconds.toDouble() > 0) ||
            seconds.toDouble() > maxKeepAwakeSeconds) {
            return failure(QStringLiteral("awake needs seconds, more than 0 and at most a week"));
        }
        model_.keepAwakeFor(seconds.toDouble());
        return reportOnceWeighed();
    }
    if (command == u"accept-terms") {
        if (model_.firstRun().needsLegalAcceptance()) {
            model_.acceptLegal();
        }
        return reportOnceWeighed();
    }
    if (command == u"launch-at-login") {
        const QJsonValue enabled = request.value(QStringLiteral("enabled"));
        if (!enabled.isBool()) {
            return failure(QStringLiteral("launch-at-login needs true or false"));
        }
        const bool before = model_.settings().launchAtLoginEnabled;
        model_.setLaunchAtLogin(enabled.toBool());
        ControlReply reply = report();
        // The command says what changed, which only the program knows.
        reply.body.insert(QStringLiteral("launchAtLoginBefore"), before);
        return reply;
    }
    if (command == u"events") {
        return events();
    }
    if (command == u"hook") {
        return hookEvent(request);
    }
    if (command == u"run") {
        return commandRun(request);
    }
    if (command == u"quit") {
        ControlReply reply = report();
        reply.afterReply = [model = QPointer<AppModel>(&model_)] {
            if (model) {
                model->quit();
            }
        };
        return reply;
    }
    return failure(QStringLiteral("unknown command"));
}

} // namespace nodwarden::app
