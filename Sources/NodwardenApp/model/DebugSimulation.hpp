#pragma once

#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <optional>
#include <vector>

namespace nodwarden::app {

/// The developers' made-up agent, which drives the decisions by hand: started and stopped from
/// the settings window of Debug builds only, so in any other build it never reports.
class DebugSimulation {
public:
    /// The agent the simulation reports.
    static constexpr const char* appName = "Debug Simulator";

    /// Reports active work from `now` for `seconds`, at least 30.
    void start(Date now, double seconds);
    void stop();
    /// `perApp` with the simulated agent's signal in place of any of the same name while the
    /// simulation lasts at `now`; `perApp` itself otherwise (an expired one is cleared).
    std::vector<ActivitySignal> mergedInto(const std::vector<ActivitySignal>& perApp, Date now);

private:
    std::optional<Date> expiresAt_;
};

} // namespace nodwarden::app
