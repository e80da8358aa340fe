#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nodwarden {
class CommandRunning;
}

namespace nodwarden::linuxplatform {

/// One pane of a tmux server: its id (unique on its server, "%3"), its first process and the
/// terminal its programs write to (empty when the listing did not name one under /dev).
struct TmuxPane {
    std::string id;
    std::int32_t pid = 0;
    std::string tty;

    bool operator==(const TmuxPane&) const = default;
};

/// Asks the user's tmux servers about their panes, each question one child command through the
/// given runner (which bounds its run time). The text of a pane goes to the caller and nowhere
/// else: failures carry no output.
class TmuxPaneReader {
public:
    /// `socketFolder` holds the servers' sockets, normally `defaultSocketFolder()`.
    TmuxPaneReader(CommandRunning& runner, std::filesystem::path tmuxExecutable,
                   std::filesystem::path socketFolder);

    /// ${TMUX_TMPDIR:-/tmp}/tmux-<uid>, where tmux puts the sockets of this user's servers.
    static std::filesystem::path defaultSocketFolder();

    /// The first executable `name` on $PATH; none when there is none.
    static std::optional<std::filesystem::path> locateExecutable(std::string_view name);

    /// Our own sockets in the socket folder, in name order; none when the folder is missing, is
    /// not a folder of ours (a link, another user's) or lets anyone else in.
    std::vector<std::filesystem::path> sockets() const;

    /// Every pane of the server behind `socket`; none when the server cannot be asked (gone,
    /// refusing, too slow).
    std::optional<std::vector<TmuxPane>> listPanes(const std::filesystem::path& socket) const;

    /// The text the pane shows now, wrapped lines joined; none when it cannot be read.
    std::optional<std::string> capturePane(const std::filesystem::path& socket,
                                           const std::string& paneID) const;

    /// "%id pid [tty]" lines; malformed lines are skipped.
    static std::vector<TmuxPane> parsePaneList(std::string_view text);

    /// Unix second of the last write to the pane's terminal as the kernel keeps it: it moves
    /// only when a write lands in a later 8-second step than the time it holds, so a write at
    /// or after `t` leaves it at or after `t` rounded down to its step. None when it cannot be
    /// read.
    static std::optional<std::int64_t> lastWrite(const TmuxPane& pane);

    /// The start of the kernel's 8-second step that holds Unix second `second`.
    static std::int64_t writeStep(std::int64_t second) { return second & ~std::int64_t{7}; }

    const std::filesystem::path& tmuxExecutable() const { return tmux_; }

private:
    std::optional<std::string> run(const std::filesystem::path& socket,
                                   std::vector<std::string> arguments) const;

    CommandRunning& runner_;
    std::filesystem::path tmux_;
    std::filesystem::path socketFolder_;
};

} // namespace nodwarden::linuxplatform
