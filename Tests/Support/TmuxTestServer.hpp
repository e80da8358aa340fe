#pragma once

#include <NodwardenCore/detection/ProcessTableReading.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace stayloom::testing {

/// A real tmux server on a private socket (never the user's own servers), with one detached
/// pane running `command` through /bin/sh. Killed when the object goes.
class TmuxTestServer {
public:
    /// The socket is made in `socketFolder`, which is created private to the user.
    TmuxTestServer(const std::filesystem::path& socketFolder, const std::string& command);
    ~TmuxTestServer();
    TmuxTestServer(const TmuxTestServer&) = delete;
    TmuxTestServer& operator=(const TmuxTestServer&) = delete;

    const std::filesystem::path& socket() const { return socket_; }
    /// The server's process id; 0 when it did not start.
    int pid() const { return pid_; }

    /// The rows of `table` that are the server or run below it, so processes elsewhere on the
    /// machine (the user's own agents) cannot change a test's outcome.
    std::vector<nodwarden::ProcessSnapshot>
    ownRows(const std::vector<nodwarden::ProcessSnapshot>& table) const;

    static constexpr const char* tmux = "/usr/bin/tmux";

private:
    std::filesystem::path socket_;
    int pid_ = 0;
};

/// A shell linked under the name `name` in `folder` (a program named like an agent).
std::filesystem::path agentNamedProgram(const std::filesystem::path& folder,
                                        const std::string& name);

} // namespace stayloom::testing
