#include <NodwardenLinux/ProcTableReader.hpp>

#include <NodwardenCore/system/FileLogger.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::linuxplatform {

namespace {

/// The whole of a file below `folder`, opened without blocking (a fixture tree may hold a FIFO);
/// false when it cannot be opened. A process that ends while it is read leaves what was read.
bool readInto(int folder, const char* path, std::string& bytes) {
    const int file = ::openat(folder, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (file < 0) {
        return false;
    }
    bytes.clear();
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t count = ::read(file, buffer.data(), buffer.size());
        if (count > 0) {
            bytes.append(buffer.data(), static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    ::close(file);
    return true;
}

bool isAllDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

/// A field of digits only, saturating as strtoull does; none for anything else.
std::optional<std::uint64_t> number(std::string_view text) {
    if (!isAllDigits(text)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return value;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// Unix time of the boot, the "btime" line of /proc/stat; start times count from it.
std::optional<double> readBootTime(int folder) {
    std::string text;
    if (!readInto(folder, "stat", text)) {
        return std::nullopt;
    }
    for (std::size_t at = 0; at < text.size();) {
        const auto end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.starts_with("btime") && line.size() > 5 && isSpace(line[5])) {
            char* stop = nullptr;
            const double value = std::strtod(line.c_str() + 5, &stop);
            if (stop != line.c_str() + 5) {
                return value;
            }
        }
    }
    return std::nullopt;
}

/// The last pid handed out in the reader's pid namespace, the last field of /proc/loadavg
/// ("0.11 0.85 1.21 2/5138 12345"); none when the file is missing or unlike that. Threads take
/// their ids from the same counter, so it moves for them too.
std::optional<std::uint64_t> readLastPID(int folder, std::string& text) {
    if (!readInto(folder, "loadavg", text)) {
        return std::nullopt;
    }
    std::string_view line(text);
    while (!line.empty() && isSpace(line.back())) {
        line.remove_suffix(1);
    }
    const auto lastSpace = line.rfind(' ');
    if (lastSpace == std::string_view::npos ||
        line.rfind('/', lastSpace) == std::string_view::npos) {
        return std::nullopt;
    }
    return number(line.substr(lastSpace + 1));
}

/// Whether `pid` names a process that runs now (not a thread of one, which /proc also answers
/// for under its own id, and not one that has ended).
bool isRunningProcess(int procFolder, std::uint64_t pid, std::string& text) {
    const std::string path = std::to_string(pid) + "/status";
    if (!readInto(procFolder, path.c_str(), text)) {
        return false;
    }
    const auto at = text.find("\nTgid:");
    if (at == std::string::npos) {
        return false;
    }
    std::size_t start = at + 6;
    while (start < text.size() && isSpace(text[start])) {
        ++start;
    }
    std::size_t end = start;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    return number(std::string_view(text).substr(start, end - start)) == pid;
}

struct DirectoryCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

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

    // Fields after comm, counted from 3: state(3) ppid(4) ... utime(14) stime(15) ...
    // starttime(22) ... arg_start(48) arg_end(49).
    constexpr std::size_t wanted = 47;
    std::array<std::string_view, wanted> fields{};
    std::size_t count = 0;
    const std::string_view rest = std::string_view(line).substr(close + 1);
    for (std::size_t at = 0; count < wanted;) {
        while (at < rest.size() && isSpace(rest[at])) {
            ++at;
        }
        if (at == rest.size()) {
            break;
        }
        const std::size_t start = at;
        while (at < rest.size() && !isSpace(rest[at])) {
            ++at;
        }
        fields[count++] = rest.substr(start, at - start);
    }
    if (count < 20) {
        return std::nullopt;
    }
    const auto ppid = number(fields[1]);
    const auto utime = number(fields[11]);
    const auto stime = number(fields[12]);
    const auto start = number(fields[19]);
    // An id past int would wrap to a negative number, which names process groups to kill().
    if (!ppid || *ppid > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) || !utime ||
        !stime || !start) {
        return std::nullopt;
    }
    stat.parentPID = static_cast<int>(*ppid);
    stat.cpuTicks = *utime + *stime;
    stat.startTime = *start;
    stat.exited = fields[0] == "Z" || fields[0] == "X";
    if (count == wanted) {
        stat.argumentsStart = number(fields[45]).value_or(0);
        stat.argumentsEnd = number(fields[46]).value_or(0);
    }
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

std::vector<ProcTableReader::Listed> ProcTableReader::list(int procFolder,
                                                           std::error_code& listingError) const {
    std::vector<Listed> listed;
    const int folder = ::dup(procFolder); // closedir closes the descriptor it is given
    std::unique_ptr<DIR, DirectoryCloser> listing(folder < 0 ? nullptr : ::fdopendir(folder));
    if (!listing) {
        listingError = std::error_code(errno, std::system_category());
        if (folder >= 0) {
            ::close(folder);
        }
        return listed;
    }
    ::rewinddir(listing.get());
    for (errno = 0; const dirent* entry = ::readdir(listing.get()); errno = 0) {
        const std::string_view name = entry->d_name;
        int pid = 0;
        if (!isAllDigits(name) ||
            std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc()) {
            continue;
        }
        const auto known = known_.find(pid);
        const std::uint64_t inode = entry->d_ino;
        listed.push_back({pid, inode, known == known_.end() || known->second.inode != inode});
    }
    if (errno != 0 && listed.empty()) {
        listingError = std::error_code(errno, std::system_category());
    }
    // procfs lists in pid order already; a fixture tree need not.
    std::sort(listed.begin(), listed.end(),
              [](const Listed& left, const Listed& right) { return left.pid < right.pid; });
    return listed;
}

template <typename Listing> auto ProcTableReader::firstFrom(Listing& listing, int pid) {
    return std::lower_bound(listing.begin(), listing.end(), pid,
                            [](const Listed& entry, int wanted) { return entry.pid < wanted; });
}

std::optional<std::vector<ProcTableReader::Listed>>
ProcTableReader::startedSince(int procFolder, std::uint64_t lastPID, std::uint64_t newLastPID) {
    // A counter that went back has wrapped: every id may have been handed out again.
    if (newLastPID < lastPID || newLastPID - lastPID > maxIdsLookedAt) {
        return std::nullopt;
    }
    std::vector<Listed> started;
    for (std::uint64_t pid = lastPID + 1; pid <= newLastPID; ++pid) {
        struct stat folder {};
        if (isRunningProcess(procFolder, pid, text_) &&
            ::fstatat(procFolder, std::to_string(pid).c_str(), &folder, 0) == 0) {
            // An id handed out since the last reading is a new process whatever was there.
            started.push_back({static_cast<int>(pid), folder.st_ino, true});
        }
    }
    return started;
}

std::vector<ProcTableReader::Listed>
ProcTableReader::listUnlessUnchanged(int procFolder, bool everything,
                                     std::error_code& listingError) {
    // Read before listing: a process that starts in between moves the next reading's counter.
    const auto lastPID = readLastPID(procFolder, text_);
    // New processes take new ids; threads take them too, so ids handed out since the last
    // reading are looked at one by one, and the processes among them join the last listing.
    // Ends need no listing: the processes whose end matters (the focus) are read every time and
    // found gone, the others at the sweep.
    if (!everything && lastPID && lastPID_ && reading_ % sweepReadings != 0) {
        if (const auto started = startedSince(procFolder, *lastPID_, *lastPID)) {
            lastPID_ = lastPID;
            for (Listed& entry : lastListing_) {
                entry.isAnother = false; // read at the reading that found them
            }
            for (const Listed& entry : *started) {
                const auto at = firstFrom(lastListing_, entry.pid);
                if (at != lastListing_.end() && at->pid == entry.pid) {
                    *at = entry; // its pid came back: the one listed before has ended
                } else {
                    lastListing_.insert(at, entry);
                }
            }
            return lastListing_;
        }
    }
    std::vector<Listed> listed = list(procFolder, listingError);
    lastPID_ = listingError ? std::nullopt : lastPID;
    lastListing_ = listed;
    ++listingCount_;
    return listed;
}

bool ProcTableReader::parentEnded(const Known& known, const std::vector<Listed>& listed) const {
    const int parent = known.stat.parentPID;
    if (parent <= 0) {
        return false; // pid 1 and the kernel's threads' parent never end
    }
    const auto found = firstFrom(listed, parent);
    return found == listed.end() || found->pid != parent || found->isAnother;
}

bool ProcTableReader::readProcess(int procFolder, const Listed& entry, Known& known, bool isNew,
                                  Clock::time_point now, std::optional<double>& secondsSinceBoot) {
    std::string& text = text_;
    std::string& path = path_;
    const std::string name = std::to_string(entry.pid);
    path.assign(name).append("/stat");
    if (!readInto(procFolder, path.c_str(), text)) {
        return false; // gone since the listing
    }
    auto stat = parseStat(text);
    if (!stat || stat->exited) {
        return false; // a zombie named like an agent runs nothing
    }
    // The same start time is the same process (its folder may only have been made anew).
    isNew = isNew || known.stat.startTime != stat->startTime;
    // An exec renames the process (to its new program's file name) and lays out a new argument
    // vector; a renaming without one costs only a read too many.
    if (isNew || known.stat.comm != stat->comm ||
        known.stat.argumentsStart != stat->argumentsStart ||
        known.stat.argumentsEnd != stat->argumentsEnd) {
        path.assign(name).append("/cmdline");
        if (readInto(procFolder, path.c_str(), text) && !text.empty()) {
            auto [argv0, arguments] = parseCmdline(text);
            known.command = argv0.empty() ? stat->comm : std::move(argv0);
            known.arguments = std::move(arguments);
        } else {
            known.command = stat->comm; // kernel threads and zombies have no argument vector
            known.arguments.clear();
        }
        // procfs gives each process's folder to the user the process runs as.
        known.ownerUID.reset();
        if (struct stat folder{}; ::fstatat(procFolder, name.c_str(), &folder, 0) == 0) {
            known.ownerUID = folder.st_uid;
        }
    }
    double cpu = 0.0;
    const double elapsed = std::chrono::duration<double>(now - known.readAt).count();
    if (!isNew && elapsed > 0.0 && stat->cpuTicks >= known.stat.cpuTicks) {
        cpu = 100.0 * static_cast<double>(stat->cpuTicks - known.stat.cpuTicks) /
              (ticksPerSecond_ * elapsed);
    } else if (isNew) {
        // Born since the last reading: its whole life is recent, so its lifetime average is
        // its recent use, and a freshly started busy agent counts at once.
        if (!secondsSinceBoot) {
            std::string uptime;
            secondsSinceBoot =
                readInto(procFolder, "uptime", uptime) ? std::strtod(uptime.c_str(), nullptr) : 0.0;
        }
        const double age =
            *secondsSinceBoot - static_cast<double>(stat->startTime) / ticksPerSecond_;
        if (age > 0.0) {
            cpu = 100.0 * static_cast<double>(stat->cpuTicks) / (ticksPerSecond_ * age);
        }
        known.firstSeenIn = reading_;
    }
    known.stat = std::move(*stat);
    known.inode = entry.inode;
    known.readAt = now;
    known.cpuPercent = cpu;
    return true;
}

std::vector<const ProcTableReader::Known*> ProcTableReader::sample(bool everything,
                                                                   std::error_code& listingError) {
    std::vector<const Known*> rows;
    listingError.clear();
    ++reading_;
    const int procFolder = ::open((root_ / "proc").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFolder < 0) {
        listingError = std::error_code(errno, std::system_category());
        known_.clear();
        lastPID_.reset();
        return rows;
    }
    const std::vector<Listed> listed = listUnlessUnchanged(procFolder, everything, listingError);
    const auto now = Clock::now();
    std::optional<double> secondsSinceBoot;
    std::vector<int> gone; // in pid order, as the listing is
    rows.reserve(listed.size());
    for (const Listed& entry : listed) {
        auto [found, isNew] = known_.try_emplace(entry.pid);
        Known& known = found->second;
        const bool read = everything || isNew || entry.isAnother || focus_.contains(entry.pid) ||
                          known.firstSeenIn + 1 == reading_ ||
                          (static_cast<std::uint64_t>(entry.pid) + reading_) % sweepReadings == 0 ||
                          parentEnded(known, listed);
        if (read && !readProcess(procFolder, entry, known, isNew, now, secondsSinceBoot)) {
            gone.push_back(entry.pid);
            continue; // gone, or never readable: forgotten below
        }
        known.seenIn = reading_;
        rows.push_back(&known);
    }
    ::close(procFolder);
    // A listing kept for the next reading no longer holds what has ended (a parent that ended
    // must show as ended to its children).
    if (!gone.empty()) {
        std::erase_if(lastListing_, [&](const Listed& entry) {
            return std::binary_search(gone.begin(), gone.end(), entry.pid);
        });
    }
    // What this reading did not find has ended.
    std::erase_if(known_, [&](const auto& entry) { return entry.second.seenIn != reading_; });
    return rows;
}

std::optional<double> ProcTableReader::bootTime(int procFolder) {
    // The boot time is fixed while the machine runs; only a tree that lacks it is asked again.
    if (!bootTime_) {
        bootTime_ = readBootTime(procFolder);
    }
    return bootTime_;
}

void ProcTableReader::focusOn(const std::vector<std::int32_t>& pids) {
    std::lock_guard lock(mutex_);
    focus_ = std::unordered_set<int>(pids.begin(), pids.end());
}

std::vector<ProcessSnapshot> ProcTableReader::readProcessTable() {
    std::lock_guard lock(mutex_);
    std::error_code listingError;
    // The first reading measures every process over `firstInterval_`; later ones follow what
    // changed.
    const bool first = !hasRead_;
    if (first) {
        (void)sample(true, listingError);
        std::this_thread::sleep_for(firstInterval_);
        hasRead_ = true;
    }
    const auto rows = sample(first, listingError);
    // A machine always runs at least this process: an empty table is a failed reading.
    if (rows.empty() && logger_ != nullptr) {
        const auto proc = (root_ / "proc").string();
        logger_->log("ProcessDetector failed: " +
                     (listingError ? "cannot list " + proc + ": " + listingError.message()
                                   : "no process in " + proc + " could be read"));
    }
    std::optional<double> boot;
    if (const int procFolder = ::open((root_ / "proc").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        procFolder >= 0) {
        boot = bootTime(procFolder);
        ::close(procFolder);
    }

    std::vector<ProcessSnapshot> table;
    table.reserve(rows.size());
    for (const Known* known : rows) {
        const ProcStat& stat = known->stat;
        table.emplace_back(stat.pid, stat.parentPID, known->cpuPercent, known->command,
                           known->arguments, stat.startTime,
                           boot
                               ? std::optional<Date>(dateFromUnixTime(
                                     *boot + static_cast<double>(stat.startTime) / ticksPerSecond_))
                               : std::nullopt);
        table.back().ownerUID = known->ownerUID;
    }
    return table;
}

} // namespace nodwarden::linuxplatform
