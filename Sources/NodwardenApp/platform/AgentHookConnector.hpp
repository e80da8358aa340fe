#pragma once

#include <NodwardenApp/model/AgentHookConnecting.hpp>
#include <NodwardenApp/platform/HookSetup.hpp>

namespace nodwarden::app {

/// The agents' hook settings under one place, edited through `HookSetup`.
class AgentHookConnector final : public AgentHookConnecting {
public:
    explicit AgentHookConnector(HookSetupPlace place) : place_(std::move(place)) {}

    std::vector<AgentHookState> list() const override { return HookSetup::list(place_); }
    AgentHookChange connect(const std::string& agent) override {
        return HookSetup::connect(place_, agent);
    }
    AgentHookChange disconnect(const std::string& agent) override {
        return HookSetup::disconnect(place_, agent);
    }

private:
    HookSetupPlace place_;
};

} // namespace nodwarden::app
