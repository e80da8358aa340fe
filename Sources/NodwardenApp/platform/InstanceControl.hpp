#pragma once

#include <NodwardenApp/platform/ControlProtocol.hpp>
#include <NodwardenCore/Models.hpp>

#include <functional>

namespace nodwarden::app {

class AppModel;

/// The running program's side of the commands: each request goes through the same model path
/// as the desktop's controls. Requests are
/// {"command":"status"}, {"command":"mode","mode":"watch"}, {"command":"quit"},
/// {"command":"accept-terms"} and {"command":"launch-at-login","enabled":true}; every reply
/// carries "ok", and "error" when it is false, "status" (a `StatusReport`) when it is true.
class InstanceControl {
public:
    /// `chooseMode` sets a mode the way the panel's picker does (and ends a first run that
    /// waits for one).
    InstanceControl(AppModel& model, std::function<void(AppMode)> chooseMode);

    ControlReply handle(const QJsonObject& request);

private:
    ControlReply report() const;

    AppModel& model_;
    std::function<void(AppMode)> chooseMode_;
};

} // namespace nodwarden::app
