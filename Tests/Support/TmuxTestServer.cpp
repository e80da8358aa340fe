#include "Support/TmuxTestServer.hpp"

#include <NodwardenCore/system/ShellCommand.hpp>

#include <set>
#include <string>

namespace stayloom::testing {

namespace fs = std::filesystem;
using nodwarden::ProcessCommandRunner;
using nodwarden::ShellCommand;

TmuxTestServer::TmuxTestServer(const fs::path& socketFolder, const std::string& command)
    : socket_(socketFolder / "test-server") {
    fs::create_directories(socketFolder);
    fs::permissions(socketFolder, fs::perms::owner_all, fs::perm_options::replace);
    ProcessCommandRunner runner(10);
    try {
        // No configuration file, a fixed size, and /bin/sh for the pane whatever $SHELL says.
        runner.run(ShellCommand{tmux,
                                {"-S", socket_.string(), "-f", "/dev/null", "new-session", "-d",
                                 "-x", "100", "-y", "30", "/bin/sh -c '" + command + "'"}});
        const auto shown = runner.run(
            ShellCommand{tmux, {"-S", socket_.string(), "display-message", "-p", "#{pid}"}});
        pid_ = std::stoi(shown.standardOutput);
    } catch (const std::exception&) {
        pid_ = 0;
    }
}

TmuxTestServer::~TmuxTestServer() {
    try {
        ProcessCommandRunner(10).run(ShellCommand{tmux, {"-S", socket_.string(), "kill-server"}});
    } catch (const std::exception&) {
    }
}

std::vector<nodwarden::ProcessSnapshot>
TmuxTestServer::ownRows(const std::vector<nodwarden::ProcessSnapshot>& table) const {
    std::set<int> kept = {pid_};
    // Parents come before children in pid order almost always; repeat until nothing is added.
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& row : table) {
            if (kept.contains(row.parentPID) && kept.insert(row.pid).second) {
                grew = true;
            }
        }
    }
    std::vector<nodwarden::ProcessSnapshot> rows;
    for (const auto& row : table) {
        if (kept.contains(row.pid)) {
            rows.push_back(row);
        }
    }
    return rows;
}

fs::path agentNamedProgram(const fs::path& folder, const std::string& name) {
    const auto program = folder / name;
    fs::create_directories(folder);
    fs::create_symlink("/bin/sh", program);
    return program;
}

} // namespace stayloom::testing
