#pragma once

#include <NodwardenCore/detection/AgentVerdict.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

/// The `who` our keep-awake helper gives every lock it takes.
inline constexpr std::string_view ownLockHolder = "Stayloom";

/// The locks logind holds now; none when it cannot be asked.
using InhibitorListing = std::function<std::optional<std::vector<InhibitorLock>>()>;

/// Verdicts from the sleep locks agents take themselves (a turn in progress, a keep-alive the user
/// asked for): a lock against sleep or idle held by our user's process below an agent, or whose
/// who or why names a running agent, says that agent is working. Our own locks never count: held
/// below this program (its keep-awake helper), or, in any pid namespace, named by our helper's
/// `ownLockHolder`. In a pid namespace of its own this program's pids are not logind's, so there
/// only a lock's who and why speak. No lock is ever touched. Logind is asked only while some
/// watched agent runs.
class LogindInhibitorWitness final : public AgentVerdictDetecting {
public:
    /// `ownPID` is this program's process id, `uid` the user whose locks count; `sharesLogindsPIDs`
    /// false when the process table's pids are not the ones logind reports.
    LogindInhibitorWitness(InhibitorListing listing, std::int32_t ownPID, std::uint32_t uid,
                           bool sharesLogindsPIDs = !inNestedPIDNamespace());

    /// Whether this process sees its pids through a pid namespace below the first one (its
    /// /proc/self/status lists more than one NSpid).
    static bool inNestedPIDNamespace();

    using AgentVerdictDetecting::detectVerdicts;
    std::vector<AgentVerdict> detectVerdicts(const DetectionPass& pass) override;

    /// Asks the system bus's logind over the calling thread's kept connection, with a one-second
    /// bound so a wedged logind cannot stall a detection pass.
    static std::optional<std::vector<InhibitorLock>> queryLogind();

private:
    InhibitorListing listing_;
    std::int32_t ownPID_;
    std::uint32_t uid_;
    bool sharesLogindsPIDs_;
};

} // namespace nodwarden::linuxplatform
