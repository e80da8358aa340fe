#include <NodwardenCore/statusrecords/AgentMountViews.hpp>

#include <NodwardenCore/system/BoundedFileRead.hpp>

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>

namespace nodwarden {
namespace {

/// An environment holds at most this much that is looked at; HOME comes early in practice.
constexpr std::size_t maxEnvironmentBytes = 128 * 1024;
constexpr std::size_t maxStatusBytes = 16 * 1024;

std::optional<std::filesystem::path> namespaceOf(const std::filesystem::path& folder) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(folder / "ns" / "mnt", error);
    if (error) {
        return std::nullopt;
    }
    return target;
}

/// HOME of a NUL-separated environment; none when it is missing or not absolute.
std::optional<std::string> homeOf(std::string_view environment) {
    constexpr std::string_view key = "HOME=";
    while (!environment.empty()) {
        const auto end = environment.find('\0');
        const std::string_view entry = environment.substr(0, end);
        if (entry.starts_with(key) && entry.size() > key.size() && entry[key.size()] == '/') {
            return std::string(entry.substr(key.size()));
        }
        if (end == std::string_view::npos) {
            break;
        }
        environment.remove_prefix(end + 1);
    }
    return std::nullopt;
}

/// The last pid of the `NSpid:` line of /proc/PID/status: the innermost namespace's.
std::optional<std::int32_t> innerPIDOf(std::string_view status) {
    constexpr std::string_view key = "NSpid:";
    const auto at = status.find(key);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view line = status.substr(at + key.size());
    line = line.substr(0, line.find('\n'));
    const auto last = line.find_last_of(" \t");
    const std::string_view number = last == std::string_view::npos ? line : line.substr(last + 1);
    std::int32_t pid = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), pid);
    if (error != std::errc() || end != number.data() + number.size() || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

} // namespace

AgentMountViews::AgentMountViews(std::filesystem::path procRoot)
    : procRoot_(std::move(procRoot)), ownNamespace_(namespaceOf(procRoot_ / "self")) {}

std::optional<ForeignAgentView> AgentMountViews::viewOf(const ProcessSnapshot& process) {
    const std::pair key{process.pid, process.startTime.value_or(0)};
    if (const auto known = known_.find(key); known != known_.end()) {
        return known->second;
    }
    auto view = look(process);
    if (known_.size() >= maxRemembered) {
        known_.clear(); // processes come and go; the next passes look again
    }
    known_.emplace(key, view);
    return view;
}

std::optional<ForeignAgentView> AgentMountViews::look(const ProcessSnapshot& process) const {
    const auto folder = procRoot_ / std::to_string(process.pid);
    const auto theirs = namespaceOf(folder);
    if (!ownNamespace_ || !theirs) {
        // A process whose namespace this user may not read (another user's) cannot be told
        // apart: its files are looked for where ours are, as they always were.
        return std::nullopt;
    }
    if (*theirs == *ownNamespace_) {
        return std::nullopt;
    }
    ForeignAgentView view{std::nullopt, process.pid};
    if (const auto status = BoundedFileRead::head(folder / "status", maxStatusBytes)) {
        view.innerPID = innerPIDOf(status->bytes).value_or(process.pid);
    }
    const auto environment = BoundedFileRead::head(folder / "environ", maxEnvironmentBytes);
    const auto home = environment ? homeOf(environment->bytes) : std::nullopt;
    if (!home) {
        return view;
    }
    // The relative form keeps the path under the process's root.
    auto path = folder / "root" / std::filesystem::path(*home).relative_path();
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        view.home = std::move(path);
    }
    return view;
}

} // namespace nodwarden
