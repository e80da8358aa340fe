#pragma once

#include <NodwardenCore/detection/ProcessTableReading.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::linuxplatform {

/// One /proc/PID/stat line, the fields the table needs.
struct ProcStat {
    int pid = 0;
    std::string comm;
    int parentPID = 0;
    std::uint64_t cpuTicks = 0; ///< utime + stime
    std::uint64_t startTime = 0;
    /// Where the argument vector lies in the process's memory (fields 48 and 49); an exec puts
    /// it elsewhere. 0 where the kernel hides them (another user's process) or the line is short.
    std::uint64_t argumentsStart = 0;
    std::uint64_t argumentsEnd = 0;
    /// A zombie (state Z) or dead (X) process: an exit its parent has not reaped, no program.
    bool exited = false;
    bool operator==(const ProcStat&) const = default;
};

/// The process table from /proc, with each process's CPU use since the previous reading.
///
/// Linux `ps` prints the lifetime average, which calls a long-running agent idle while it works;
/// this reader reports recent use instead (100 = one core), keyed by pid and start time so a
/// reused pid starts fresh. The first reading takes two samples `firstInterval` apart.
///
/// Each reading lists /proc; what the listing shows unchanged is not read again. The listing
/// gives each /proc/PID folder's inode, which procfs makes anew for every new process, so a
/// reused pid is noticed there. A process's stat line (parent, CPU time, name) is read when it is
/// new or its inode changed; at the reading after it first showed up (a fork has exec'd by then);
/// when its parent ended (it was re-parented); while it is in the focus (`focusOn`: the agents'
/// trees, whose CPU is added up); and otherwise once every `sweepReadings` readings. Its
/// argument line and owner are read when it is new and again when its stat line shows an exec
/// (a new name, or its argument vector moved). So a steady machine costs a listing and a
/// 1/`sweepReadings` share of stat reads, and an exec outside the focus shows within
/// `sweepReadings` readings. Processes that are not read keep the CPU share they last showed.
/// The listing itself is mostly skipped: the ids handed out since the last reading (up to the
/// last pid in /proc/loadavg) are looked at one by one, and those that are processes rather than
/// threads join the last listing (at most `maxIdsLookedAt` are looked at; more, and the listing
/// is made). On a machine where something starts a process every few seconds, that is a few
/// reads instead of listing thousands of folders. It is still made once a sweep, and always
/// where no such file exists. A process that ends is found gone when it is read: at once in the
/// focus, else at the sweep.
/// A process that rewrites its own argument memory without renaming itself, or changes its user
/// without an exec, keeps the line and owner it was first read with; a child whose parent has
/// ended but lingers unreaped shows its old parent until the parent is gone or the child is read.
class ProcTableReader final : public ProcessTableReading {
public:
    /// Every process outside the focus is read at least once in this many readings.
    static constexpr std::uint64_t sweepReadings = 32;
    /// The most ids handed out between two readings that are looked at one by one before the
    /// listing is made instead.
    static constexpr std::uint64_t maxIdsLookedAt = 64;

    /// A reading that finds no process at all is logged to `logger` when one is given.
    explicit ProcTableReader(
        std::filesystem::path root = "/",
        std::chrono::milliseconds firstInterval = std::chrono::milliseconds(250),
        FileLogger* logger = nullptr);

    /// Every process that could be read; processes that vanish mid-read are left out. Empty, and
    /// logged as "ProcessDetector failed: …", when /proc cannot be listed or nothing in it read.
    std::vector<ProcessSnapshot> readProcessTable() override;

    void focusOn(const std::vector<std::int32_t>& pids) override;

    /// How many times /proc has been listed so far.
    std::uint64_t listingCount() const { return listingCount_; }

    /// Parses a stat line; `comm` may hold spaces and ")" so the fields start after the last ")".
    static std::optional<ProcStat> parseStat(const std::string& line);

    /// argv[0] and the argument line (NULs as spaces) from a cmdline file's bytes.
    static std::pair<std::string, std::string> parseCmdline(const std::string& bytes);

private:
    using Clock = std::chrono::steady_clock;
    /// What one process showed at its last reading; the static parts are reused until an exec.
    struct Known {
        ProcStat stat;
        std::string command;
        std::string arguments;
        std::optional<std::uint32_t> ownerUID;
        /// The inode of its /proc folder.
        std::uint64_t inode = 0;
        std::uint64_t firstSeenIn = 0;
        /// The number of the last reading that listed it.
        std::uint64_t seenIn = 0;
        Clock::time_point readAt;
        double cpuPercent = 0;
    };
    /// A /proc/PID folder as the listing shows it.
    struct Listed {
        int pid;
        std::uint64_t inode;
        /// Whether it is another process than the one last read under this pid (or a new one).
        bool isAnother;
    };

    /// The /proc/PID folders in pid order; none, with `listingError` set, when /proc cannot be
    /// listed.
    std::vector<Listed> list(int procFolder, std::error_code& listingError) const;
    /// The processes among the ids handed out after `lastPID`, up to `newLastPID`; none when
    /// the ids cannot tell (the counter wrapped, or more than `maxIdsLookedAt` were handed out).
    std::optional<std::vector<Listed>> startedSince(int procFolder, std::uint64_t lastPID,
                                                    std::uint64_t newLastPID);
    /// The last listing with the processes started since; a new one when the ids cannot tell.
    std::vector<Listed> listUnlessUnchanged(int procFolder, bool everything,
                                            std::error_code& listingError);
    /// Reads what changed into `known_`; the result points into it.
    std::vector<const Known*> sample(bool everything, std::error_code& listingError);
    bool parentEnded(const Known& known, const std::vector<Listed>& listed) const;
    /// The first entry of a listing (in pid order) at `pid` or past it.
    template <typename Listing> static auto firstFrom(Listing& listing, int pid);
    /// Reads a process's stat line (and its argument line and owner when it exec'd); false when
    /// it is gone or unreadable.
    bool readProcess(int procFolder, const Listed& entry, Known& known, bool isNew,
                     Clock::time_point now, std::optional<double>& secondsSinceBoot);
    std::optional<double> bootTime(int procFolder);

    std::filesystem::path root_;
    std::chrono::milliseconds firstInterval_;
    double ticksPerSecond_;
    FileLogger* logger_;
    std::mutex mutex_;
    std::unordered_map<int, Known> known_;
    std::unordered_set<int> focus_;
    std::uint64_t reading_ = 0;
    std::optional<double> bootTime_;
    /// The last pid handed out at the last reading, and what the last listing found.
    std::optional<std::uint64_t> lastPID_;
    std::vector<Listed> lastListing_;
    std::uint64_t listingCount_ = 0;
    bool hasRead_ = false;
    /// Buffers reused from file to file.
    std::string text_;
    std::string path_;
};

} // namespace nodwarden::linuxplatform
