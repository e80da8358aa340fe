#pragma once

#include <NodwardenCore/detection/AgentVerdict.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden::linuxplatform {

/// One lock in logind's list, as `ListInhibitors` gives it.
struct InhibitorLock {
    /// Colon-separated kinds ("sleep:idle", "handle-lid-switch").
    std::string what;
    std::string who;
    std::string why;
    /// "block", "delay" or "block-weak".
    std::string mode;
    std::uint32_t uid = 0;
    std::uint32_t pid = 0;

    bool operator==(const InhibitorLock&) const = default;
};

/// The locks logind holds now; none when it cannot be asked.
using InhibitorListing = std::function<std::optional<std::vector<InhibitorLock>>()>;

/// Verdicts from the sleep locks agents take themselves (a turn in progress, a keep-alive the user
/// asked for): a lock against sleep or idle held by our user's process below an agent, or whose
/// who or why names a running agent, says that agent is working. Locks held below this program
/// (its own keep-awake helper) never count, and no lock is ever touched. Logind is asked only
/// while some watched agent runs.
class LogindInhibitorWitness final : public AgentVerdictDetecting {
public:
    /// `ownPID` is this program's process id, `uid` the user whose locks count.
    LogindInhibitorWitness(InhibitorListing listing, std::int32_t ownPID, std::uint32_t uid);

    using AgentVerdictDetecting::detectVerdicts;
    std::vector<AgentVerdict> detectVerdicts(const DetectionPass& pass) override;

    /// Asks the system bus's logind over the calling thread's kept connection, with a one-second
    /// bound so a wedged logind cannot stall a detection pass.
    static std::optional<std::vector<InhibitorLock>> queryLogind();

private:
    InhibitorListing listing_;
    std::int32_t ownPID_;
    std::uint32_t uid_;
};

} // namespace nodwarden::linuxplatform
