#pragma once

#include <NodwardenApp/control/ControlProtocol.hpp>
#include <NodwardenCore/model/AppMode.hpp>

#include <memory>

#include <functional>

namespace nodwarden {
class HookWitness;
}

namespace nodwarden::app {

class AppModel;

/// The running program's side of the commands: each request goes through the same model path
/// as the desktop's controls. Requests are
/// {"command":"status"}, {"command":"mode","mode":"watch"}, {"command":"quit"},
/// {"command":"awake","seconds":5400}, {"command":"accept-terms"},
/// {"command":"launch-at-login","enabled":true} (answered with "launchAtLoginBefore" too),
/// {"command":"events"} (the status, then a line per change: `StatusEvents`) and an agent's hook
/// event
/// {"command":"hook","agent":"claude","event":"Stop","session":"…","pid":N,"start":T}; and
/// `stayloom run`'s {"command":"run","event":"started"|"ended","name":"make","pid":N}; every reply
/// carries "ok", and "error" when it is false, "status" (a `StatusReport`) when it is true, except
/// a hook event's and a run's, which are only acknowledged.
class InstanceControl {
public:
    /// Below the connection's time-out for a peer, so the answer is still taken.
    static constexpr int firstDecisionWaitMilliseconds = 1500;
    static_assert(firstDecisionWaitMilliseconds < ControlProtocol::peerTimeoutMilliseconds);

    /// `chooseMode` sets a mode the way the panel's picker does (and ends a first run that
    /// waits for one). `hooks` takes the agents' hook events.
    InstanceControl(AppModel& model, std::function<void(AppMode)> chooseMode,
                    std::shared_ptr<HookWitness> hooks);

    ControlReply handle(const QJsonObject& request);

private:
    ControlReply report() const;
    /// A state change's answer: the status once the model has weighed it.
    ControlReply reportOnceWeighed() const;
    ControlReply hookEvent(const QJsonObject& request);
    ControlReply commandRun(const QJsonObject& request);
    /// `stayloom events`: the status now, then a line per change for as long as the peer stays.
    ControlReply events() const;

    AppModel& model_;
    std::function<void(AppMode)> chooseMode_;
    std::shared_ptr<HookWitness> hooks_;
};

} // namespace nodwarden::app
