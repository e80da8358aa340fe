#include <NodwardenLinux/ProcTableReader.hpp>

#include <NodwardenCore/FileLogger.hpp>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace nodwarden::linuxplatform {

namespace {

std::optional<std::string> readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool isAllDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

/// Unix time of the boot, the "btime" line of /proc/stat; start times count from it.
std::optional<double> readBootTime(const std::filesystem::path& root) {
    std::ifstream in(root / "proc" / "stat");
    std::string key;
    double value = 0;
    while (in >> key) {
        if (key == "btime" && in >> value) {
            return value;
        }
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return std::nullopt;
}

} // namespace

ProcTableReader::ProcTableReader(std::filesystem::path root,
                                 std::chrono::milliseconds firstInterval, FileLogger* logger)
    : root_(std::move(root)), firstInterval_(firstInterval), logger_(logger) {
    const long ticks = ::sysconf(_SC_CLK_TCK);
    ticksPerSecond_ = ticks > 0 ? static_cast<double>(ticks) : 100.0;
}

std::optional<ProcStat> ProcTableReader::parseStat(const std::string& line) {
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return std::nullopt;
    }
    ProcStat stat;
    char* end = nullptr;
    const long pid = std::strtol(line.c_str(), &end, 10);
    if (end == line.c_str() || pid <= 0 || pid > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    stat.pid = static_cast<int>(pid);
    stat.comm = line.substr(open + 1, close - open - 1);

    // Fields after comm: state(3) ppid(4) ... utime(14) stime(15) ... starttime(22).
    std::istringstream rest(line.substr(close + 1));
    std::vector<std::string> fields;
    std::string field;
    while (rest >> field && fields.size() < 20) {
        fields.push_back(field);
    }
    if (fields.size() < 20) {
        return std::nullopt;
    }
    auto number = [](const std::string& text) -> std::optional<unsigned long long> {
        if (!isAllDigits(text)) {
            return std::nullopt;
        }
        return std::strtoull(text.c_str(), nullptr, 10);
    };
    const auto ppid = number(fields[1]);
    const auto utime = number(fields[11]);
    const auto stime = number(fields[12]);
    const auto start = number(fields[19]);
    // An id past int would wrap to a negative number, which names process groups to kill().
    if (!ppid || *ppid > static_cast<unsigned long long>(std::numeric_limits<int>::max()) ||
        !utime || !stime || !start) {
        return std::nullopt;
    }
    stat.parentPID = static_cast<int>(*ppid);
    stat.cpuTicks = *utime + *stime;
    stat.startTime = *start;
    return stat;
}

std::pair<std::string, std::string> ProcTableReader::parseCmdline(const std::string& bytes) {
    std::string text = bytes;
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    const auto firstNul = text.find('\0');
    std::string argv0 = text.substr(0, firstNul);
    for (char& c : text) {
        if (c == '\0') {
            c = ' ';
        }
    }
    return {argv0, text};
}

std::vector<ProcTableReader::Sample>
ProcTableReader::sampleAll(std::error_code& listingError) const {
    std::vector<Sample> samples;
    const auto proc = root_ / "proc";
    std::error_code& error = listingError;
    error.clear();
    for (std::filesystem::directory_iterator it(proc, error), end; !error && it != end;
         it.increment(error)) {
        const auto name = it->path().filename().string();
        if (!isAllDigits(name)) {
            continue;
        }
        const auto statText = readWhole(it->path() / "stat");
        if (!statText) {
            continue; // gone since the listing
        }
        const auto stat = parseStat(*statText);
        if (!stat) {
            continue;
        }
        Sample sample{stat->pid, *stat, {}, {}, std::nullopt};
        // procfs gives each process's folder to the user the process runs as.
        if (struct stat folder{}; ::stat(it->path().c_str(), &folder) == 0) {
            sample.ownerUID = folder.st_uid;
        }
        if (const auto cmdline = readWhole(it->path() / "cmdline"); cmdline && !cmdline->empty()) {
            auto [argv0, arguments] = parseCmdline(*cmdline);
            sample.command = argv0.empty() ? stat->comm : argv0;
            sample.arguments = std::move(arguments);
        } else {
            sample.command = stat->comm; // kernel threads and zombies have no argument vector
        }
        samples.push_back(std::move(sample));
    }
    return samples;
}

std::map<ProcTableReader::SampleKey, std::uint64_t>
ProcTableReader::ticksByKey(const std::vector<Sample>& samples) const {
    std::map<SampleKey, std::uint64_t> ticks;
    for (const auto& sample : samples) {
        ticks[{sample.pid, sample.stat.startTime}] = sample.stat.cpuTicks;
    }
    return ticks;
}

std::vector<ProcessSnapshot> ProcTableReader::readProcessTable() {
    std::lock_guard lock(mutex_);
    std::error_code listingError;
    if (!previousTime_) {
        previousTicks_ = ticksByKey(sampleAll(listingError));
        previousTime_ = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(firstInterval_);
    }
    const auto samples = sampleAll(listingError);
    // A machine always runs at least this process: an empty table is a failed reading.
    if (samples.empty() && logger_ != nullptr) {
        const auto proc = (root_ / "proc").string();
        logger_->log("ProcessDetector failed: " +
                     (listingError ? "cannot list " + proc + ": " + listingError.message()
                                   : "no process in " + proc + " could be read"));
    }
    const auto now = std::chrono::steady_clock::now();
    const auto uptime = readWhole(root_ / "proc" / "uptime");
    const double secondsSinceBoot = uptime ? std::strtod(uptime->c_str(), nullptr) : 0.0;
    const double elapsed = std::chrono::duration<double>(now - *previousTime_).count();
    const std::optional<double> bootTime = readBootTime(root_);

    std::vector<ProcessSnapshot> table;
    table.reserve(samples.size());
    for (const auto& sample : samples) {
        double cpu = 0.0;
        const auto previous = previousTicks_.find({sample.pid, sample.stat.startTime});
        if (previous != previousTicks_.end() && elapsed > 0.0 &&
            sample.stat.cpuTicks >= previous->second) {
            cpu = 100.0 * static_cast<double>(sample.stat.cpuTicks - previous->second) /
                  (ticksPerSecond_ * elapsed);
        } else if (previous == previousTicks_.end()) {
            // Born since the last reading: its whole life is recent, so its lifetime average is
            // its recent use, and a freshly started busy agent counts at once.
            const double age =
                secondsSinceBoot - static_cast<double>(sample.stat.startTime) / ticksPerSecond_;
            if (age > 0.0) {
                cpu = 100.0 * static_cast<double>(sample.stat.cpuTicks) / (ticksPerSecond_ * age);
            }
        }
        table.push_back(ProcessSnapshot{
            sample.pid, sample.stat.parentPID, cpu, sample.command, sample.arguments,
            sample.stat.startTime,
            bootTime
                ? std::optional<Date>(dateFromUnixTime(
                      *bootTime + static_cast<double>(sample.stat.startTime) / ticksPerSecond_))
                : std::nullopt});
        table.back().ownerUID = sample.ownerUID;
    }
    previousTicks_ = ticksByKey(samples);
    previousTime_ = now;
    return table;
}

} // namespace nodwarden::linuxplatform
