#pragma once

#include <NodwardenCore/ProcessTableReading.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
    bool operator==(const ProcStat&) const = default;
};

/// The process table from /proc, with each process's CPU use since the previous reading.
///
/// Linux `ps` prints the lifetime average, which calls a long-running agent idle while it works;
/// this reader reports recent use instead (100 = one core), keyed by pid and start time so a
/// reused pid starts fresh. The first reading takes two samples `firstInterval` apart.
///
/// Each reading lists /proc and reads every process's stat line, which carries what changes: the
/// parent (a process is re-parented when its parent ends), the CPU time, and the signs of an exec
/// (a new name, the argument vector moved). The argument line and the owner are read once per
/// process and again only after such an exec, so a steady machine costs one small read per
/// process. A process that rewrites its own argument memory without renaming itself, or changes
/// its user without an exec, keeps the line and owner it was first read with.
class ProcTableReader final : public ProcessTableReading {
public:
    /// A reading that finds no process at all is logged to `logger` when one is given.
    explicit ProcTableReader(
        std::filesystem::path root = "/",
        std::chrono::milliseconds firstInterval = std::chrono::milliseconds(250),
        FileLogger* logger = nullptr);

    /// Every process that could be read; processes that vanish mid-read are left out. Empty, and
    /// logged as "ProcessDetector failed: …", when /proc cannot be listed or nothing in it read.
    std::vector<ProcessSnapshot> readProcessTable() override;

    /// Parses a stat line; `comm` may hold spaces and ")" so the fields start after the last ")".
    static std::optional<ProcStat> parseStat(const std::string& line);

    /// argv[0] and the argument line (NULs as spaces) from a cmdline file's bytes.
    static std::pair<std::string, std::string> parseCmdline(const std::string& bytes);

private:
    /// What one process showed at its last reading; the static parts are reused until an exec.
    struct Known {
        ProcStat stat;
        std::string command;
        std::string arguments;
        std::optional<std::uint32_t> ownerUID;
        /// The number of the last reading that found the process.
        std::uint64_t seenIn = 0;
    };
    /// Per process: whether it is new since the previous reading, and its CPU ticks then.
    struct Row {
        const Known* known;
        bool isNew;
        std::uint64_t previousTicks;
    };

    /// Reads every process into `known_`; the rows point into it.
    std::vector<Row> sampleAll(std::error_code& listingError);
    std::optional<double> bootTime();

    std::filesystem::path root_;
    std::chrono::milliseconds firstInterval_;
    double ticksPerSecond_;
    FileLogger* logger_;
    std::mutex mutex_;
    std::unordered_map<int, Known> known_;
    std::uint64_t reading_ = 0;
    std::optional<double> bootTime_;
    std::optional<std::chrono::steady_clock::time_point> previousTime_;
};

} // namespace nodwarden::linuxplatform
