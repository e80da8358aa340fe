// A whole run of the model over real detectors, real queues and real files, with a secret on the
// screen, on a tmux pane, in an agent's argument line, in its session file, in its status record
// and in another agent's chat transcript: none of what the program writes may hold the secret
// afterwards.

#include "AppSupport/AppModelHarness.hpp"
#include "AppSupport/FakeMachine.hpp"

#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/AccessibilityPlatform.hpp>
#include <NodwardenCore/detection/ActivityDetector.hpp>
#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/SessionActivityDetector.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>
#include <NodwardenCore/statusrecords/AgentStatusReaders.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenLinux/ProcTableReader.hpp>
#include <NodwardenLinux/TmuxScreenVerdicts.hpp>

#include "Support/TmuxTestServer.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

namespace {

/// Never written by the program under any rule; any occurrence is a leak.
constexpr const char* secret = "TOPSECRET-hunter2-5f1e9c";

/// A shell linked under the name `name` in `folder`.
std::filesystem::path agentNamedShell(const std::filesystem::path& folder,
                                      const std::string& name = "claude") {
    const auto program = folder / name;
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink("/bin/sh", program);
    return program;
}

/// A real process that works under the name `claude` with the secret in its argument line.
class SecretCarryingAgent : public BusyAgent {
public:
    explicit SecretCarryingAgent(const std::filesystem::path& folder)
        : BusyAgent(agentNamedShell(folder),
                    std::string("while :; do :; done # --api-key=") + secret) {}
};

/// Field 22 of /proc/PID/stat: the start time in clock ticks, as Claude Code records it.
std::string processStartTicks(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    }
    return field;
}

/// Every regular file below `folder`, except those below `except`.
std::vector<std::filesystem::path> filesBelow(const std::filesystem::path& folder,
                                              const std::set<std::filesystem::path>& except) {
    std::vector<std::filesystem::path> files;
    for (auto it = std::filesystem::recursive_directory_iterator(folder);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        if (except.contains(it->path())) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) {
            files.push_back(it->path());
        }
    }
    return files;
}

} // namespace

TEST(Privacy, ScreenTextArgumentLinesAndSessionFilesNeverReachWhatTheProgramWrites) {
    AppModelHarness harness;
    // Session files are judged by their real modification times, so the model's clock reads
    // the real time too.
    harness.clock.set(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() -
        978307200.0);
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    GuardSettings settings = GuardSettings::defaults();
    settings.setIdleGracePeriodSeconds(10);
    harness.storeSettings(settings);

    // The secret on screen, beside a working phrase so the text is really read and matched.
    auto content = makeElement("claude.content");
    content->set(nodwarden::AccessibilityAttribute::value, std::string("Thinking… ") + secret);
    auto window = makeElement("claude.window");
    window->setChildren({content});
    auto application = makeElement("claude.app");
    application->set(nodwarden::AccessibilityAttribute::focusedWindow,
                     AccessibilityElement(window));
    harness.accessibilityPlatform.addApplication("com.anthropic.claudefordesktop", "Claude", 4242,
                                                 application);

    // A session file holding the secret, fresh, where the session probe looks.
    const auto sessions = harness.home.path() / ".claude" / "projects" / "p";
    harness.home.write(".claude/projects/p/session.jsonl",
                       std::string("{\"prompt\":\"") + secret + "\"}\n");

    SecretCarryingAgent agent(harness.home.path() / "agent-bin");
    ASSERT_GT(agent.pid(), 0);
    // Claude Code's status record, with the secret where its working folder goes.
    harness.home.write(".claude/sessions/" + std::to_string(agent.pid()) + ".json",
                       "{\"pid\":" + std::to_string(agent.pid()) + ",\"procStart\":\"" +
                           processStartTicks(agent.pid()) + "\",\"cwd\":\"/home/" + secret +
                           "\",\"status\":\"busy\"}");
    // A quiet Qwen Code whose chat's last record is the user's prompt, holding the secret.
    BusyAgent qwen(agentNamedShell(harness.home.path() / "agent-bin", "qwen"),
                   "while :; do sleep 1; done");
    ASSERT_GT(qwen.pid(), 0);
    harness.home.write(
        ".qwen/projects/-home-u/chats/c1.jsonl",
        std::string("{\"uuid\":\"u1\",\"type\":\"user\",\"message\":{\"parts\":[{\"text\":\"") +
            secret + "\"}]}}\n");

    // A pane of a private tmux server showing the secret beside a working phrase, above a
    // program named like an agent (a sleep that keeps the pane's text as it is).
    const auto paneAgent = harness.home.path() / "pane-bin" / "codex";
    std::filesystem::create_directories(paneAgent.parent_path());
    std::filesystem::create_symlink("/bin/sleep", paneAgent);
    const auto tmuxSockets = harness.home.path() / "tmux-sockets";
    std::optional<TmuxTestServer> tmuxServer;
    tmuxServer.emplace(tmuxSockets, std::string("printf \"Pondering ") + secret +
                                        " (esc to interrupt)\\n\"; exec " + paneAgent.string() +
                                        " 100000");
    ASSERT_GT(tmuxServer->pid(), 0) << "tmux did not start";
    std::vector<pid_t> panePIDs;
    for (int attempt = 0; attempt < 100 && panePIDs.size() < 2; ++attempt) {
        panePIDs.clear();
        for (const auto& row :
             tmuxServer->ownRows(linuxplatform::ProcTableReader("/", {}).readProcessTable())) {
            panePIDs.push_back(row.pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    // A process table of this test's own processes, each a link to its real /proc entry, so
    // agents running elsewhere on the machine cannot keep the session open.
    TemporaryDirectory processRoot;
    std::filesystem::create_directories(processRoot.path() / "proc");
    panePIDs.push_back(::getpid());
    panePIDs.push_back(agent.pid());
    panePIDs.push_back(qwen.pid());
    for (const pid_t pid : panePIDs) {
        std::filesystem::create_symlink("/proc/" + std::to_string(pid),
                                        processRoot.path() / "proc" / std::to_string(pid));
    }
    std::filesystem::create_symlink("/proc/stat", processRoot.path() / "proc" / "stat");

    AccessibilityDetector screenText(harness.accessibilityPlatform);
    ProcessDetector processes(std::make_shared<linuxplatform::ProcTableReader>(processRoot.path()));
    const auto probe = std::make_shared<FileActivityProbe>(harness.home.path(), 8);
    SessionActivityDetector sessionDetector(probe);
    StatusRecordDetector statusRecords(standardStatusReaders(harness.home.path(), probe));
    ProcessCommandRunner tmuxRunner(2);
    linuxplatform::TmuxScreenVerdicts paneVerdicts(
        linuxplatform::TmuxPaneReader(tmuxRunner, TmuxTestServer::tmux, tmuxSockets));
    ActivityDetector activity(processes, screenText, sessionDetector,
                              {&statusRecords, &paneVerdicts});
    std::set<std::string> seenAgents;
    std::mutex seenMutex;

    auto environment = harness.environment();
    environment.detectPerApp = [&](const GuardSettings& current, const PowerSnapshot& power,
                                   Date now) {
        auto detected = activity.detectPerApp(current, power, now);
        std::lock_guard lock(seenMutex);
        for (const auto& signal : detected) {
            if (signal.strength == SignalStrength::strong && signal.appName) {
                seenAgents.insert(*signal.appName +
                                  (signal.reason.find(" shows it is ") != std::string::npos
                                       ? " on its screen"
                                       : ""));
                seenAgents.insert(signal.reason);
            }
        }
        return detected;
    };
    {
        AppModel model(std::move(environment));
        model.start();
        for (int step = 0; step < 6; ++step) {
            harness.clock.advance(2.5);
            harness.tickAndSettle(model);
        }
        ASSERT_TRUE(model.metrics().sessionStartedAt().has_value());

        // The work ends: the agent process goes, the screen falls idle but keeps the secret, the
        // tmux server goes.
        agent.stop();
        qwen.stop();
        tmuxServer.reset();
        content->set(nodwarden::AccessibilityAttribute::value, std::string("Ready. ") + secret);
        std::filesystem::last_write_time(sessions / "session.jsonl",
                                         std::filesystem::file_time_type::clock::now() -
                                             std::chrono::hours(2));
        for (int step = 0; step < 20; ++step) {
            harness.clock.advance(2.5);
            harness.tickAndSettle(model);
        }
        std::string lastSignals;
        for (const auto& signal : model.lastPerApp()) {
            lastSignals += signal.appName.value_or("?") + "=" +
                           std::to_string(rawValue(signal.strength)) + " ";
        }
        EXPECT_FALSE(model.metrics().sessionStartedAt().has_value())
            << "the run must include a session close; last signals: " << lastSignals
            << model.metrics().sessionAgentID().value_or("-");
        model.applicationWillTerminate();
    }
    {
        std::lock_guard lock(seenMutex);
        EXPECT_TRUE(seenAgents.contains("Claude")) << "the screen text was matched";
        EXPECT_TRUE(seenAgents.contains("Claude Code")) << "the argument-carrying process was seen";
        EXPECT_TRUE(seenAgents.contains("Codex CLI on its screen")) << "the pane was read";
        EXPECT_TRUE(seenAgents.contains("Claude Code reports it is working"))
            << "the status record was read";
        EXPECT_TRUE(seenAgents.contains("Qwen Code's chat awaits a reply"))
            << "the chat transcript was read";
    }
    harness.defaults->sync();

    // Everything the run wrote, the agents' own files (the secret's sources) excepted.
    const auto written = filesBelow(
        harness.home.path(), {harness.home.path() / ".claude", harness.home.path() / ".qwen"});
    std::set<std::string> names;
    for (const auto& file : written) {
        names.insert(file.filename().string());
    }
    for (const auto& expected : {"defaults.ini", "Nodwarden.log", "Stayloom-runs.log"}) {
        EXPECT_TRUE(names.contains(expected)) << expected << " was not written";
    }
    EXPECT_NE(readFile(harness.home.path() / "defaults.ini").find(StoredKeys::metrics.data()),
              std::string::npos)
        << "the statistics store was saved";
    EXPECT_FALSE(readFile(harness.ledgerPath).empty()) << "the ledger holds the closed session";
    for (const auto& file : written) {
        const std::string text = readFile(file);
        EXPECT_EQ(text.find(secret), std::string::npos) << file << " holds the secret:\n" << text;
        EXPECT_EQ(text.find("hunter2"), std::string::npos) << file;
        EXPECT_EQ(text.find("--api-key"), std::string::npos) << file;
    }
}
