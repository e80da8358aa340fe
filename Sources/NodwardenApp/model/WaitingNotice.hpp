#pragma once

#include <NodwardenApp/model/Notifying.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <set>
#include <string>
#include <vector>

namespace nodwarden::app {

/// Tells the user at once when an agent stops to ask them something: "Claude Code is waiting for
/// your answer". One notice per wait, in a slot of the agent's own so that agents waiting at once
/// each keep theirs: a wait that goes on is not announced again, and the notice is withdrawn when
/// that agent's wait ends. Gated by the work-done notifications, since a wait is where the agent's
/// work stops.
class WaitingNotice {
public:
    /// `out` must outlive the notice.
    explicit WaitingNotice(Notifying& out) : out_(out) {}

    /// Each evaluation's per-agent signals.
    void observe(const std::vector<ActivitySignal>& perApp, const GuardSettings& settings);

    /// "Claude Code is waiting for your answer".
    static Notice noticeFor(const std::string& agent);
    /// The notice slot of `agent`'s waits.
    static std::string slotFor(const std::string& agent);
    /// Whether some agent waited at the last observation.
    bool anyWaiting() const { return !waiting_.empty(); }

private:
    Notifying& out_;
    std::set<std::string> waiting_;
    /// The agents whose notice is on the desktop.
    std::set<std::string> shown_;
};

} // namespace nodwarden::app
