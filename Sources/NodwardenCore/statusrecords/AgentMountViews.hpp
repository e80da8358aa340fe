#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// How an agent process that lives in another mount namespace (a container, a toolbox, a
/// `docker run` with a private HOME) is seen from here: its home through `/proc/PID/root`, and
/// its pid as the agent itself knows it (inside its own pid namespace).
struct ForeignAgentView {
    /// Its HOME under `/proc/PID/root`; none when this user may not look into the process (not
    /// ours, or not readable as a debugger would need), so only its CPU can speak for it.
    std::optional<std::filesystem::path> home;
    /// The pid it has in its innermost pid namespace (what it writes in its own records).
    std::int32_t innerPID = 0;
};

/// Finds which agent processes run in another mount namespace than this program, under a /proc
/// folder (the system's, or a test's). What a process showed is kept by its pid and start ticks,
/// so each process costs a look once; at most `maxRemembered` are kept.
class AgentMountViews {
public:
    static constexpr std::size_t maxRemembered = 256;

    explicit AgentMountViews(std::filesystem::path procRoot = "/proc");

    /// None for a process in this program's own mount namespace (or one that cannot be told
    /// apart: its namespace link unreadable and its root the same).
    std::optional<ForeignAgentView> viewOf(const ProcessSnapshot& process);

private:
    std::optional<ForeignAgentView> look(const ProcessSnapshot& process) const;

    std::filesystem::path procRoot_;
    std::optional<std::filesystem::path> ownNamespace_;
    std::map<std::pair<std::int32_t, std::uint64_t>, std::optional<ForeignAgentView>> known_;
};

} // namespace nodwarden
