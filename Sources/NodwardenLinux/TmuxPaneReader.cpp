#include <NodwardenLinux/TmuxPaneReader.hpp>

#include <NodwardenCore/system/ShellCommand.hpp>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <system_error>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::linuxplatform {

namespace fs = std::filesystem;

TmuxPaneReader::TmuxPaneReader(CommandRunning& runner, fs::path tmuxExecutable,
                               fs::path socketFolder)
    : runner_(runner), tmux_(std::move(tmuxExecutable)), socketFolder_(std::move(socketFolder)) {}

fs::path TmuxPaneReader::defaultSocketFolder() {
    const char* folder = std::getenv("TMUX_TMPDIR");
    const fs::path base = folder != nullptr && *folder != '\0' ? fs::path(folder) : "/tmp";
    return base / ("tmux-" + std::to_string(::getuid()));
}

std::optional<fs::path> TmuxPaneReader::locateExecutable(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const auto colon = folders.find(':');
        const auto folder = folders.substr(0, colon);
        folders = colon == folders.npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') {
            continue; // a relative entry would depend on the program's working folder
        }
        fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::vector<fs::path> TmuxPaneReader::sockets() const {
    std::vector<fs::path> found;
    // tmux's own rule: a folder anyone else made, or can write to, may hold a server that is
    // listening for our environment and feeding us panes, and so may a socket that is not ours.
    // Inside a folder of ours that no one else can enter, nothing changes behind our back.
    struct stat folder {};
    if (::lstat(socketFolder_.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        folder.st_uid != ::getuid() || (folder.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return found;
    }
    std::error_code error;
    for (fs::directory_iterator it(socketFolder_, error), end; !error && it != end;
         it.increment(error)) {
        struct stat entry {};
        if (::lstat(it->path().c_str(), &entry) == 0 && S_ISSOCK(entry.st_mode) &&
            entry.st_uid == ::getuid()) {
            found.push_back(it->path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::optional<std::string> TmuxPaneReader::run(const fs::path& socket,
                                               std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"-S", socket.string()});
    // A tmux client hands its environment to the server: the command's own minimal one goes.
    try {
        return runner_.run(ShellCommand{tmux_.string(), std::move(arguments)}).standardOutput;
    } catch (const CommandRunnerError&) {
        // The error carries the output, which may be screen text: it goes no further.
    } catch (const CommandLaunchError&) {
    }
    return std::nullopt;
}

std::optional<std::vector<TmuxPane>> TmuxPaneReader::listPanes(const fs::path& socket) const {
    const auto listing =
        run(socket, {"list-panes", "-a", "-F", "#{pane_id} #{pane_pid} #{pane_tty}"});
    if (!listing) {
        return std::nullopt;
    }
    return parsePaneList(*listing);
}

std::optional<std::string> TmuxPaneReader::capturePane(const fs::path& socket,
                                                       const std::string& paneID) const {
    return run(socket, {"capture-pane", "-p", "-J", "-t", paneID});
}

std::vector<TmuxPane> TmuxPaneReader::parsePaneList(std::string_view text) {
    std::vector<TmuxPane> panes;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        text = end == text.npos ? std::string_view() : text.substr(end + 1);
        const auto space = line.find(' ');
        if (space == line.npos || space < 2 || line.front() != '%') {
            continue;
        }
        auto number = line.substr(space + 1);
        std::string_view tty;
        if (const auto second = number.find(' '); second != number.npos) {
            tty = number.substr(second + 1);
            number = number.substr(0, second);
        }
        std::int32_t pid = 0;
        const auto [stop, error] =
            std::from_chars(number.data(), number.data() + number.size(), pid);
        if (error != std::errc() || stop != number.data() + number.size() || pid <= 0) {
            continue;
        }
        // Only a terminal device is ever looked at, and only with stat.
        if (!tty.starts_with("/dev/") || tty.find("/../") != tty.npos) {
            tty = {};
        }
        panes.push_back({std::string(line.substr(0, space)), pid, std::string(tty)});
    }
    return panes;
}

std::optional<std::int64_t> TmuxPaneReader::lastWrite(const TmuxPane& pane) {
    struct stat terminal {};
    if (pane.tty.empty() || ::stat(pane.tty.c_str(), &terminal) != 0 ||
        !S_ISCHR(terminal.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(terminal.st_mtim.tv_sec);
}

} // namespace nodwarden::linuxplatform
