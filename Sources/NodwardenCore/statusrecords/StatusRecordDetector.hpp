#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/detection/AgentVerdict.hpp>
#include <NodwardenCore/detection/DetectionPass.hpp>
#include <NodwardenCore/detection/ProcessTableReading.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

struct AgentResolver;
class AgentMountViews;

/// When a turn that no word of the agent's own can end (a chat's last record the user's, a hook
/// that hears nothing of a cancel) is still believed: while the agent's process tree shows a sign
/// of work. Measured on the real agents thinking in silence, Gemini's tree used 8.9 % of a core or
/// more and Qwen's 1.3 % or more; at their prompts both used none. So any measurable share is a
/// sign, and three quiet passes in a row end the turn.
namespace SignOfWork {
inline constexpr double cpuPercent = 0.5;
inline constexpr TimeInterval quietLimit = 10;
} // namespace SignOfWork

/// Reads one agent's own record of its state. Reads only what the verdict needs, at most
/// `StatusRecordFiles::maxReadBytes` of a file, and never keeps, logs or returns what it read.
class AgentStatusReading {
public:
    virtual ~AgentStatusReading() = default;
    /// The profile whose records this reader understands.
    virtual std::string_view profileID() const = 0;
    /// Working or idle as a current record of `agent` says at `now`; none when no current record
    /// speaks for it (missing, stale, of a process that has gone, unreadable).
    virtual std::optional<AgentWorkState> read(const RunningAgent& agent, Date now) = 0;
    /// What its verdicts rest on: the agent's stated state, or an inference from its chat.
    virtual AgentVerdictSource source() const { return AgentVerdictSource::statusRecord; }
    /// Whether the agent keeps a record of every turn where this reader looks, so that a young
    /// process of which `read` finds nothing has not been given a turn yet. Asked only about a
    /// young agent, so it may look at the file system.
    virtual bool recordsEveryTurn() const { return false; }
};

/// The agents' own word: asks each reader about its agent while that agent runs. An agent that
/// runs a one-shot prompt works whatever its records say; a young agent whose reader finds no
/// record of a turn, where it keeps one of every turn, is idle whatever its CPU and files say.
/// Switched off by `GuardSettings::statusRecordDetectionEnabled`. Readers may remember what they
/// read last, so calls must not overlap (the application makes them on its detection queue).
///
/// Given `AgentMountViews` and a way to make readers over another home, an agent process in
/// another mount namespace (a container) is read through `/proc/PID/root` with readers of its
/// own home, under the pid it knows itself by; one this user may not look into is out of reach.
class StatusRecordDetector final : public AgentVerdictDetecting {
public:
    /// Seconds after an agent's first process started during which, without a record of a turn,
    /// its start-up CPU and the files it writes while starting are not work.
    static constexpr TimeInterval startUpWindow = 120;
    /// The most homes in other namespaces read at once.
    static constexpr std::size_t maxForeignHomes = 16;

    using ReaderFactory = std::function<std::vector<std::unique_ptr<AgentStatusReading>>(
        const std::filesystem::path& home)>;

    explicit StatusRecordDetector(std::vector<std::unique_ptr<AgentStatusReading>> readers,
                                  ReaderFactory readersForHome = {},
                                  std::shared_ptr<AgentMountViews> views = {});
    ~StatusRecordDetector() override;
    StatusRecordDetector(const StatusRecordDetector&) = delete;
    StatusRecordDetector& operator=(const StatusRecordDetector&) = delete;

    using AgentVerdictDetecting::detectVerdicts;
    std::vector<AgentVerdict> detectVerdicts(const DetectionPass& pass) override;
    std::vector<std::string> outOfReach() const override { return outOfReach_; }

private:
    struct Split;
    Split split(const RunningAgent& agent);
    std::vector<std::unique_ptr<AgentStatusReading>>& readersFor(const std::filesystem::path& home);

    std::vector<std::unique_ptr<AgentStatusReading>> readers_;
    ReaderFactory readersForHome_;
    std::shared_ptr<AgentMountViews> views_;
    std::map<std::filesystem::path, std::vector<std::unique_ptr<AgentStatusReading>>>
        foreignReaders_;
    std::vector<std::string> outOfReach_;
    /// For each agent whose records told of a turn, the start of the run they told of: a run
    /// that has had a turn is past its start-up even while its chat says nothing (a quiet wait).
    std::map<std::string, Date> spokeForRun_;
};

} // namespace nodwarden
