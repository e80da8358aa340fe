#pragma once

#include <NodwardenCore/ProcessTableReading.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
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
    bool operator==(const ProcStat&) const = default;
};

/// The process table from /proc, with each process's CPU use since the previous reading.
///
/// Linux `ps` prints the lifetime average, which calls a long-running agent idle while it works;
/// this reader reports recent use instead (100 = one core), keyed by pid and start time so a
/// reused pid starts fresh. The first reading takes two samples `firstInterval` apart.
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
    struct Sample {
        int pid;
        ProcStat stat;
        std::string command;
        std::string arguments;
        std::optional<std::uint32_t> ownerUID;
    };
    using SampleKey = std::pair<int, std::uint64_t>;

    std::vector<Sample> sampleAll(std::error_code& listingError) const;
    std::map<SampleKey, std::uint64_t> ticksByKey(const std::vector<Sample>& samples) const;

    std::filesystem::path root_;
    std::chrono::milliseconds firstInterval_;
    double ticksPerSecond_;
    FileLogger* logger_;
    std::mutex mutex_;
    std::map<SampleKey, std::uint64_t> previousTicks_;
    std::optional<std::chrono::steady_clock::time_point> previousTime_;
};

} // namespace nodwarden::linuxplatform
