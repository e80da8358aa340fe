#include <NodwardenLinux/HoldReportReader.hpp>

#include <NodwardenCore/system/BoundedFileRead.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::linuxplatform {

namespace {

constexpr std::string_view reportPrefix = "inhibit-";
constexpr std::string_view reportSuffix = ".state";
/// A report is a few short lines; anything longer was not written by a helper.
constexpr std::size_t maxReportBytes = 4096;
/// The helper's name as the kernel keeps it: cut at 15 bytes.
constexpr std::string_view helperCommand = "stayloom-inhibi";

/// The pid a report's name carries; 0 when the name is not a report's.
pid_t reportPid(const std::string& name) {
    if (name.size() <= reportPrefix.size() + reportSuffix.size() ||
        !name.starts_with(reportPrefix) || !name.ends_with(reportSuffix)) {
        return 0;
    }
    const std::string digits =
        name.substr(reportPrefix.size(), name.size() - reportPrefix.size() - reportSuffix.size());
    if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) {
        return 0;
    }
    return static_cast<pid_t>(std::atol(digits.c_str()));
}

} // namespace

HoldReportReader::HoldReportReader(const std::filesystem::path& runtimeFolder,
                                   std::filesystem::path procRoot)
    : folder_(runtimeFolder.empty() ? std::filesystem::path() : runtimeFolder / "stayloom"),
      procRoot_(std::move(procRoot)) {}

std::filesystem::path HoldReportReader::runtimeFolderFromEnvironment() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && *runtime == '/' ? std::filesystem::path(runtime)
                                                 : std::filesystem::path();
}

KeepAwakeLocks HoldReportReader::read() const {
    KeepAwakeLocks merged;
    struct stat info {};
    // The helpers make it ours alone; anything else there is not theirs to be believed.
    if (folder_.empty() || ::lstat(folder_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 0077) != 0) {
        return merged;
    }
    std::error_code error;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        paths.push_back(entry.path());
    }
    // In one order, so that the warning shown is the same at every reading.
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        const pid_t pid = reportPid(path.filename().string());
        if (pid <= 0) {
            continue;
        }
        const auto command = BoundedFileRead::head(procRoot_ / std::to_string(pid) / "comm", 64);
        const bool running = command && command->bytes.starts_with(helperCommand);
        if (!running) {
            // Its helper was killed before it could take its report back.
            if (::kill(pid, 0) != 0 && errno == ESRCH) {
                std::filesystem::remove(path, error);
            }
            continue;
        }
        if (const auto report = BoundedFileRead::whole(path, maxReportBytes)) {
            merged.merge(KeepAwakeLocks::parse(*report));
        }
    }
    return merged;
}

} // namespace nodwarden::linuxplatform
