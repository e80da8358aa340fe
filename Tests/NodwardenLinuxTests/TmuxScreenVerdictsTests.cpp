// A real tmux server on a private socket, a pane running a program named like an agent, and the
// real process table: the pane's text decides the agent's verdict, and nothing is run when no
// agent sits in a pane.
#include <NodwardenLinux/TmuxScreenVerdicts.hpp>

#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenLinux/ProcTableReader.hpp>
#include <NodwardenLinux/ScreenAttribution.hpp>

#include "Support/TemporaryDirectory.hpp"
#include "Support/TmuxTestServer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;
using namespace stayloom::testing;

namespace {

/// Runs commands for real and remembers each one.
class RecordingRunner final : public CommandRunning {
public:
    CommandResult run(const ShellCommand& command) override {
        commands.push_back(command);
        return real.run(command);
    }
    ProcessCommandRunner real{2};
    std::vector<ShellCommand> commands;
};

Date dateNow() {
    return dateFromUnixTime(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
}

/// The user's own client, attached to a server from a terminal of a known size; what it draws
/// is read and dropped.
class AttachedClient {
public:
    AttachedClient(const std::filesystem::path& socket, unsigned short columns,
                   unsigned short rows) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        const winsize size{rows, columns, 0, 0};
        ::ioctl(master_, TIOCSWINSZ, &size);
        const std::string terminal = ::ptsname(master_);
        const std::string socketPath = socket.string();
        const char* const argv[] = {TmuxTestServer::tmux, "-S", socketPath.c_str(), "attach",
                                    nullptr};
        const char* const environment[] = {"TERM=xterm", "PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                           nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid(); // the terminal opened next becomes the client's own
            const int slave = ::open(terminal.c_str(), O_RDWR);
            ::dup2(slave, 0);
            ::dup2(slave, 1);
            ::dup2(slave, 2);
            ::execve(argv[0], const_cast<char* const*>(argv),
                     const_cast<char* const*>(environment));
            ::_exit(127);
        }
        drain_ = std::thread([this] {
            std::array<char, 4096> buffer{};
            pollfd watched{master_, POLLIN, 0};
            while (!stop_) {
                if (::poll(&watched, 1, 100) > 0 &&
                    ::read(master_, buffer.data(), buffer.size()) <= 0) {
                    break; // hung up: the client is gone
                }
            }
        });
    }
    ~AttachedClient() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        stop_ = true;
        if (drain_.joinable()) {
            drain_.join();
        }
        if (master_ >= 0) {
            ::close(master_);
        }
    }
    AttachedClient(const AttachedClient&) = delete;
    AttachedClient& operator=(const AttachedClient&) = delete;

private:
    int master_ = -1;
    pid_t pid_ = -1;
    std::atomic<bool> stop_{false};
    std::thread drain_;
};

/// The clients a user sees on the server, with their sizes and their windows' sizes.
std::string clientsOf(const TmuxTestServer& server) {
    try {
        return ProcessCommandRunner(5)
            .run(ShellCommand{TmuxTestServer::tmux,
                              {"-S", server.socket().string(), "list-clients", "-F",
                               "#{client_tty} #{client_flags} #{client_width}x#{client_height} "
                               "#{window_width}x#{window_height}"}})
            .standardOutput;
    } catch (const std::exception& error) {
        return error.what();
    }
}

struct TmuxPanes : ::testing::Test {
    TemporaryDirectory folder;
    RecordingRunner runner;
    TmuxScreenVerdicts verdicts{
        TmuxPaneReader(runner, TmuxTestServer::tmux, folder.path() / "sockets")};
    ProcTableReader table{"/", std::chrono::milliseconds(0)};
    GuardSettings settings = GuardSettings::defaults();

    /// The verdicts for the server's own processes (plus `extra` rows) once `expected` comes,
    /// asked every 100 ms for at most 10 s; the last verdicts otherwise.
    std::vector<AgentVerdict> awaitVerdicts(const TmuxTestServer& server,
                                            const std::vector<AgentVerdict>& expected,
                                            const std::vector<ProcessSnapshot>& extra = {}) {
        std::vector<AgentVerdict> found;
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto rows = server.ownRows(table.readProcessTable());
            rows.insert(rows.end(), extra.begin(), extra.end());
            found = verdicts.detectVerdicts(settings, rows, 0);
            if (found == expected) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return found;
    }
};

} // namespace

TEST_F(TmuxPanes, APaneShowsItsAgentWorkingThenIdle) {
    const auto agent = agentNamedProgram(folder.path() / "bin", "claude");
    const auto done = folder.path() / "turn-done";
    TmuxTestServer server(
        folder.path() / "sockets",
        "exec " + agent.string() + " -c \"printf \\\"Reading files (esc to " +
            "interrupt)\\n\\\"; until [ -e " + done.string() +
            " ]; do sleep 0.1; done; printf \\\"\\033[2J\\033[H? for shortcuts\\n\\\";" +
            " while :; do sleep 1; done\"");
    ASSERT_GT(server.pid(), 0) << "tmux did not start";

    const AgentVerdict working{"Claude Code", AgentWorkState::working, AgentVerdictSource::screen};
    const AgentVerdict idle{"Claude Code", AgentWorkState::idle, AgentVerdictSource::screen};
    EXPECT_EQ(awaitVerdicts(server, {working}), std::vector<AgentVerdict>{working});

    std::ofstream(done).put('\n');
    EXPECT_EQ(awaitVerdicts(server, {idle}), std::vector<AgentVerdict>{idle});

    // A second session of the agent that no screen shows may be working: no idle verdict.
    ProcessSnapshot unseen{999'999, ::getpid(), 0, "/usr/local/bin/claude", "claude"};
    unseen.ownerUID = ::getuid();
    EXPECT_EQ(awaitVerdicts(server, {}, {unseen}), std::vector<AgentVerdict>{});

    // The on-screen text switch governs panes too: off, nothing is asked.
    settings.accessibilityDetectionEnabled = false;
    runner.commands.clear();
    EXPECT_EQ(awaitVerdicts(server, {}), std::vector<AgentVerdict>{});
    EXPECT_TRUE(runner.commands.empty());
}

TEST_F(TmuxPanes, ASteadyPaneCostsNoCommandAndARestartedServerIsAskedAgain) {
    const auto agent = agentNamedProgram(folder.path() / "bin", "claude");
    const auto done = folder.path() / "turn-done";
    const std::string command =
        "exec " + agent.string() +
        " -c \"printf \\\"Reading files (esc to interrupt)\\n\\\"; until [ -e " + done.string() +
        " ]; do sleep 0.1; done; printf \\\"\\033[2J\\033[H? for "
        "shortcuts\\n\\\"; while :; do sleep 1; done\"";
    std::optional<TmuxTestServer> server(std::in_place, folder.path() / "sockets", command);
    ASSERT_GT(server->pid(), 0) << "tmux did not start";
    const AgentVerdict working{"Claude Code", AgentWorkState::working, AgentVerdictSource::screen};
    const AgentVerdict idle{"Claude Code", AgentWorkState::idle, AgentVerdictSource::screen};

    // The user looks at the session from a terminal larger than the session was made.
    AttachedClient user(server->socket(), 120, 40);
    std::string seen;
    for (int attempt = 0; attempt < 50 && seen.find("120x40") == std::string::npos; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        seen = clientsOf(*server);
    }
    ASSERT_NE(seen.find("120x40"), std::string::npos) << seen;
    EXPECT_EQ(awaitVerdicts(*server, {working}), std::vector<AgentVerdict>{working});

    // Nothing is drawn: once the pane's terminal has been quiet for a step, no command runs.
    int quietPasses = 0;
    for (int attempt = 0; attempt < 250 && quietPasses < 3; ++attempt) {
        const auto asked = runner.commands.size();
        EXPECT_EQ(
            verdicts.detectVerdicts(settings, server->ownRows(table.readProcessTable()), dateNow()),
            std::vector<AgentVerdict>{working});
        quietPasses = runner.commands.size() == asked ? quietPasses + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(quietPasses, 3) << "a steady pane was read again";
    // The turn ends: the pane is drawn anew and read at the next pass.
    std::ofstream(done).put('\n');
    EXPECT_EQ(awaitVerdicts(*server, {idle}), std::vector<AgentVerdict>{idle});
    EXPECT_EQ(clientsOf(*server), seen) << "the user's client was resized or joined";

    // The server dies without cleaning up; a new one starts on the same socket.
    ASSERT_EQ(::kill(server->pid(), SIGKILL), 0);
    server.reset();
    std::filesystem::remove(done);
    server.emplace(folder.path() / "sockets", command);
    ASSERT_GT(server->pid(), 0) << "tmux did not start again";
    EXPECT_EQ(awaitVerdicts(*server, {working}), std::vector<AgentVerdict>{working});
}

TEST_F(TmuxPanes, NoAgentInAnyPaneRunsNoCommand) {
    TmuxTestServer server(folder.path() / "sockets", "exec sleep 600");
    ASSERT_GT(server.pid(), 0) << "tmux did not start";
    // An agent runs, but outside tmux.
    ProcessSnapshot agentElsewhere{999'999, ::getpid(), 40, "/usr/local/bin/claude", "claude"};
    agentElsewhere.ownerUID = ::getuid();
    for (int pass = 0; pass < 3; ++pass) {
        auto rows = server.ownRows(table.readProcessTable());
        rows.push_back(agentElsewhere);
        EXPECT_EQ(verdicts.detectVerdicts(settings, rows, pass), std::vector<AgentVerdict>{});
    }
    EXPECT_EQ(verdicts.detectVerdicts(settings, {agentElsewhere}, 3), std::vector<AgentVerdict>{});
    EXPECT_TRUE(runner.commands.empty()) << runner.commands.size() << " commands ran";
}

TEST_F(TmuxPanes, OnlyOurOwnPrivateSocketFolderAndOurOwnSocketsAreUsed) {
    // tmux's own rule: a folder someone else made or can write to may hold a server listening for
    // our environment; so may a socket that is not ours.
    namespace fs = std::filesystem;
    TmuxTestServer server(folder.path() / "sockets", "exec sleep 600");
    ASSERT_GT(server.pid(), 0) << "tmux did not start";
    const auto socketsIn = [&](const fs::path& socketFolder) {
        return TmuxPaneReader(runner, TmuxTestServer::tmux, socketFolder).sockets();
    };
    ASSERT_EQ(socketsIn(folder.path() / "sockets"), std::vector<fs::path>{server.socket()});

    fs::create_directory_symlink(folder.path() / "sockets", folder.path() / "linked");
    EXPECT_EQ(socketsIn(folder.path() / "linked"), std::vector<fs::path>{}) << "a link";

    fs::permissions(folder.path() / "sockets", fs::perms::group_read | fs::perms::group_exec,
                    fs::perm_options::add);
    EXPECT_EQ(socketsIn(folder.path() / "sockets"), std::vector<fs::path>{}) << "open to a group";
    fs::permissions(folder.path() / "sockets", fs::perms::owner_all, fs::perm_options::replace);

    ASSERT_EQ(::lchown(server.socket().c_str(), 65534, 65534), 0);
    EXPECT_EQ(socketsIn(folder.path() / "sockets"), std::vector<fs::path>{}) << "another's socket";
    ASSERT_EQ(::lchown(server.socket().c_str(), ::getuid(), ::getgid()), 0);

    // Another user got there first: their folder, private to them, with their server in it.
    const auto shared = folder.path() / "shared";
    fs::create_directory(shared);
    fs::permissions(folder.path(), fs::perms::all, fs::perm_options::replace);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
    const auto planted = shared / ("tmux-" + std::to_string(::getuid()));
    const std::vector<std::string> asNobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
    const auto nobody = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), asNobody.begin(), asNobody.end());
        return ProcessCommandRunner(10).run(ShellCommand{"/usr/bin/setpriv", arguments});
    };
    ASSERT_NO_THROW(nobody({"/bin/mkdir", "-m", "700", planted.string()}));
    ASSERT_NO_THROW(nobody({TmuxTestServer::tmux, "-S", (planted / "default").string(), "-f",
                            "/dev/null", "new-session", "-d", "sleep 600"}));
    EXPECT_TRUE(fs::is_socket(planted / "default"));
    TmuxScreenVerdicts plantedVerdicts{TmuxPaneReader(runner, TmuxTestServer::tmux, planted)};
    const auto agent = agentNamedProgram(folder.path() / "bin", "claude");
    TmuxTestServer ours(folder.path() / "sockets-with-agent",
                        "exec " + agent.string() + " -c 'sleep 600'");
    runner.commands.clear();
    for (int pass = 0; pass < 20 && runner.commands.empty(); ++pass) {
        plantedVerdicts.detectVerdicts(settings, ours.ownRows(table.readProcessTable()), pass);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    try {
        nobody({TmuxTestServer::tmux, "-S", (planted / "default").string(), "kill-server"});
    } catch (const std::exception&) {
    }
    EXPECT_TRUE(runner.commands.empty()) << "the planted server was asked";
}

TEST_F(TmuxPanes, AnotherUsersTmuxAndAgentsOpenNoGate) {
    TmuxTestServer server(folder.path() / "sockets", "exec sleep 600");
    ASSERT_GT(server.pid(), 0) << "tmux did not start";
    // Another user's server with an agent in a pane: not ours to read, so nothing is asked.
    auto rows = server.ownRows(table.readProcessTable());
    const std::vector<ProcessSnapshot> theirs = {
        {999'990, 1, 0, "/usr/bin/tmux", "tmux new"},
        {999'991, 999'990, 0, "/bin/bash", "bash"},
        {999'992, 999'991, 0, "/usr/local/bin/claude", "claude"},
    };
    for (ProcessSnapshot row : theirs) {
        row.ownerUID = ::getuid() + 1;
        rows.push_back(row);
    }
    EXPECT_EQ(verdicts.detectVerdicts(settings, rows, 0), std::vector<AgentVerdict>{});
    EXPECT_TRUE(runner.commands.empty()) << runner.commands.size() << " commands ran";
}

TEST(ScreenAttribution, APaneSpeaksOnlyForItsOneAgentAndIdleOnlyWhenNoSessionIsUnseen) {
    const AgentResolver resolver = AgentResolver::make(GuardSettings::defaults());
    const std::vector<ProcessSnapshot> base = {
        {10, 1, 0, "/usr/bin/tmux", "tmux new"},
        {11, 10, 0, "/bin/bash", "bash"},
        {12, 11, 0, "/usr/local/bin/claude", "claude"},
        // A tool call of Claude Code that runs another agent: Claude Code's business.
        {13, 12, 0, "/usr/local/bin/codex", "codex exec fix"},
        {20, 10, 0, "/bin/bash", "bash"},
        {21, 20, 0, "/usr/local/bin/claude", "claude"},
        {22, 20, 0, "/usr/local/bin/gemini", "gemini"},
    };
    const AgentVerdict idle{"Claude Code", AgentWorkState::idle, AgentVerdictSource::screen};
    const AgentVerdict working{"Claude Code", AgentWorkState::working, AgentVerdictSource::screen};
    {
        ScreenAttribution attribution(base, resolver);
        const AgentProfile* inFirstPane = attribution.soleAgentAtOrBelow(11);
        ASSERT_NE(inFirstPane, nullptr);
        EXPECT_EQ(inFirstPane->displayName, "Claude Code");
        EXPECT_EQ(attribution.soleAgentAtOrBelow(20), nullptr) << "two agents share the pane";
        // The session in the shared pane is unread: a working pane still counts, an idle one not.
        EXPECT_EQ(attribution.verdicts({{inFirstPane, 11, true}}),
                  std::vector<AgentVerdict>{working});
        EXPECT_EQ(attribution.verdicts({{inFirstPane, 11, false}}), std::vector<AgentVerdict>{});
    }
    // Without the shared pane: a daemon handed to pid 1 or the user's service manager is no
    // session; a session in a terminal without a pane is.
    std::vector<ProcessSnapshot> alone(base.begin(), base.begin() + 4);
    alone.push_back({30, 1, 0, "/usr/lib/systemd/systemd", "/usr/lib/systemd/systemd --user"});
    alone.push_back({31, 30, 0, "/usr/local/bin/claude", "claude daemon"});
    alone.push_back({32, 1, 0, "/usr/local/bin/claude", "claude daemon"});
    {
        ScreenAttribution attribution(alone, resolver);
        EXPECT_EQ(attribution.verdicts({{attribution.soleAgentAtOrBelow(11), 11, false}}),
                  std::vector<AgentVerdict>{idle});
    }
    alone.push_back({40, 1, 0, "/usr/bin/xterm", "xterm"});
    alone.push_back({41, 40, 0, "/bin/bash", "bash"});
    alone.push_back({42, 41, 0, "/usr/local/bin/claude", "claude"});
    ScreenAttribution attribution(alone, resolver);
    EXPECT_EQ(attribution.verdicts({{attribution.soleAgentAtOrBelow(11), 11, false}}),
              std::vector<AgentVerdict>{});
}

// What the agents really show (research captures): only the interrupt hints mean a turn runs;
// the readouts and input boxes stay on idle screens.
TEST(ScreenAttribution, OnlyInterruptHintsReadAsWorkOnAPane) {
    struct Screen {
        std::string agent;
        std::string text;
        bool working;
    };
    const std::vector<Screen> screens = {
        {"Claude Code", "esc to interrupt \u00B7 \u2190 for agents", true},
        {"Claude Code", "? for shortcuts \u00B7 Context left until auto-compact: 9%", false},
        {"Claude Code", "\u273B Churned for 40s \u00B7 1.2k tokens used", false},
        {"Codex CLI", "\u2022 Working (12s \u2022 esc to interrupt)", true},
        {"Codex CLI", "\u203A Ask Codex to do anything   Working tree clean", false},
        {"Gemini CLI", "\u2839 Thinking... (esc to cancel, 5s)", true},
        {"Gemini CLI", ">   Type your message or @path/to/file   120 tokens", false},
        {"Copilot CLI", "\u25C9 Working \u00B7 62 B esc esc interrupt", true},
        {"OpenCode", "\u2B1D\u2B1D\u2B1D\u25A0\u25A0  esc interrupt", true},
        {"OpenCode", "tab agents  ctrl+p commands  working", false},
    };
    const std::vector<AgentProfile> catalog = AgentCatalog::builtin();
    for (const Screen& screen : screens) {
        const AgentProfile* profile = nullptr;
        for (const AgentProfile& candidate : catalog) {
            if (candidate.displayName == screen.agent) {
                profile = &candidate;
            }
        }
        ASSERT_NE(profile, nullptr) << screen.agent;
        EXPECT_TRUE(ScreenAttribution::hasScreenPhrases(*profile)) << screen.agent;
        EXPECT_EQ(ScreenAttribution::showsWorkingPhrase(*profile, screen.text), screen.working)
            << screen.agent << ": " << screen.text;
    }
}
