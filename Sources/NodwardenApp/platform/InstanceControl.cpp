#include <NodwardenApp/platform/InstanceControl.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/platform/ModeWords.hpp>
#include <NodwardenApp/platform/StatusReport.hpp>

#include <QPointer>

namespace nodwarden::app {

namespace {

ControlReply failure(const QString& error) {
    return {QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}}, {}};
}

} // namespace

InstanceControl::InstanceControl(AppModel& model, std::function<void(AppMode)> chooseMode)
    : model_(model), chooseMode_(std::move(chooseMode)) {}

ControlReply InstanceControl::report() const {
    return {QJsonObject{{QStringLiteral("ok"), true},
                        {QStringLiteral("status"), StatusReport::fromModel(model_)}},
            {}};
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
        return report();
    }
    if (command == u"accept-terms") {
        if (model_.needsLegalAcceptance()) {
            model_.acceptLegal();
        }
        return report();
    }
    if (command == u"launch-at-login") {
        const QJsonValue enabled = request.value(QStringLiteral("enabled"));
        if (!enabled.isBool()) {
            return failure(QStringLiteral("launch-at-login needs true or false"));
        }
        model_.setLaunchAtLogin(enabled.toBool());
        return report();
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
