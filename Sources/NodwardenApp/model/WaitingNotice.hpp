#pragma once

#include <NodwardenApp/model/Notifying.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace nodwarden::app {

/// Tells the user at once when an agent stops to ask them something: "Claude Code is waiting for
/// your answer". One notice per wait: a wait that goes on is not announced again, and when every
/// wait has ended the notice is withdrawn (replaced when another agent starts waiting). Gated by
/// the work-done notifications, since a wait is where the agent's work stops.
class WaitingNotice {
public:
    /// `out` must outlive the notice.
    explicit WaitingNotice(Notifying& out) : out_(out) {}

    /// Each evaluation's per-agent signals.
    void observe(const std::vector<ActivitySignal>& perApp, const GuardSettings& settings);

    /// "Claude Code is waiting for your answer".
    static Notice noticeFor(const std::string& agent);

private:
    Notifying& out_;
    std::set<std::string> waiting_;
    std::optional<Notice> shown_;
};

} // namespace nodwarden::app
