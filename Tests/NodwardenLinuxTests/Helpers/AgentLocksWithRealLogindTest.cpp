// The agents' own sleep locks as a witness: locks taken on the real systemd-logind (started by
// with-real-logind on a private system bus) by processes named like agents, read back through
// logind's own list; and the attribution rules over listed locks.

#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenLinux/LogindInhibitorWitness.hpp>
#include <NodwardenLinux/ProcTableReader.hpp>

#include "Support/ChildProcess.hpp"
#include "Support/TemporaryDirectory.hpp"
#include "Support/TmuxTestServer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace nodwarden;
using nodwarden::linuxplatform::InhibitorLock;
using nodwarden::linuxplatform::LogindInhibitorWitness;
using stayloom::testing::agentNamedProgram;
using stayloom::testing::TemporaryDirectory;

std::string displayNameOf(const std::string& profileID) {
    for (const auto& profile : nodwarden::AgentCatalog::builtin()) {
        if (profile.id == profileID) {
            return profile.displayName;
        }
    }
    return {};
}

using Child = stayloom::testing::ChildProcess;

const GuardSettings settings = GuardSettings::defaults();

std::vector<AgentVerdict> verdictsFor(const std::vector<InhibitorLock>& locks,
                                      const std::vector<ProcessSnapshot>& table,
                                      std::int32_t ownPID = 1000, std::uint32_t uid = 1000,
                                      bool sharesLogindsPIDs = true) {
    LogindInhibitorWitness witness([locks] { return locks; }, ownPID, uid, sharesLogindsPIDs);
    return witness.detectVerdicts(settings, table, 0);
}

const AgentVerdict codexWorks{displayNameOf("codex-cli"), AgentWorkState::working,
                              AgentVerdictSource::lock};

TEST(AgentLocks, ALockSpeaksForTheAgentAboveItsHolderOrTheAgentItNames) {
    // pid 10: the Codex TUI; 11: systemd-inhibit below it; 20: a daemon handed to pid 1;
    // 30: an editor's lock; 40: this program, 41: its keep-awake helper.
    const std::vector<ProcessSnapshot> table{
        {10, 5, 0, "/usr/lib/node_modules/bin/codex", "codex"},
        {11, 10, 0, "/usr/bin/systemd-inhibit", "systemd-inhibit --what=sleep cat"},
        {20, 1, 0, "/usr/bin/systemd-inhibit", "systemd-inhibit"},
        {30, 1, 0, "/usr/bin/gedit", "gedit"},
        {40, 1, 0, "/usr/bin/stayloom", "stayloom"},
        {41, 40, 0, "/usr/libexec/stayloom/stayloom-inhibit", "stayloom-inhibit -ims"},
    };
    struct Row {
        const char* name;
        InhibitorLock lock;
        bool codexWorking;
        /// Seen from a pid namespace of our own, where logind's pids are not the table's.
        bool nested = false;
    };
    const std::vector<Row> rows{
        {"below the agent", {"sleep", "systemd-inhibit", "x", "block", 1000, 11}, true},
        {"idle alone is enough", {"idle", "copilot", "keep-alive", "block", 1000, 11}, true},
        {"names the agent",
         {"sleep", "x", "Codex is running an active turn", "block", 1000, 20},
         true},
        {"delay lock", {"shutdown:sleep", "x", "y", "delay", 1000, 11}, true},
        {"another user's", {"sleep", "x", "Codex is running", "block", 1001, 11}, false},
        {"lid switch only", {"handle-lid-switch", "x", "y", "block", 1000, 11}, false},
        {"no agent's", {"sleep", "gedit", "Unsaved", "block", 1000, 30}, false},
        {"a word inside another", {"sleep", "codexify", "y", "block", 1000, 30}, false},
        {"our own, naming agents", {"sleep", "Stayloom", "codex works", "block", 1000, 41}, false},
        // In a pid namespace our helper's pid as logind has it is no pid of the table, or another
        // process's; its lock is still ours.
        {"our own, from a namespace",
         {"sleep", "Stayloom", "Codex CLI is working", "block", 1000, 48211},
         false,
         true},
        {"our own, its pid another's",
         {"sleep", "Stayloom", "codex works", "block", 1000, 11},
         false,
         true},
        {"a pid that is not ours to read",
         {"sleep", "systemd-inhibit", "x", "block", 1000, 11},
         false,
         true},
        {"names the agent, from a namespace",
         {"sleep", "x", "Codex is running an active turn", "block", 1000, 20},
         true,
         true},
    };
    for (const Row& row : rows) {
        const auto verdicts = verdictsFor({row.lock}, table, 40, 1000, !row.nested);
        if (row.codexWorking) {
            EXPECT_EQ(verdicts, std::vector<AgentVerdict>{codexWorks}) << row.name;
        } else {
            EXPECT_TRUE(verdicts.empty()) << row.name;
        }
    }
}

TEST(AgentLocks, LogindIsNotAskedWhileNoAgentRuns) {
    int asked = 0;
    LogindInhibitorWitness witness(
        [&asked] {
            ++asked;
            return std::vector<InhibitorLock>{};
        },
        40, 1000);
    witness.detectVerdicts(settings, {{30, 1, 0, "/usr/bin/gedit", "gedit"}}, 0);
    EXPECT_EQ(asked, 0);
    witness.detectVerdicts(settings, {{10, 1, 0, "/usr/bin/codex", "codex"}}, 0);
    EXPECT_EQ(asked, 1);
}

class AgentLocksWithRealLogind : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("STAYLOOM_REAL_LOGIND") == nullptr) {
            GTEST_SKIP() << "LOGIND UNAVAILABLE: run through with-real-logind";
        }
    }

    /// The rows of the real table that belong to `root` or run below it.
    std::vector<ProcessSnapshot> treeOf(pid_t root) {
        nodwarden::linuxplatform::ProcTableReader reader("/", std::chrono::milliseconds(0));
        const auto table = reader.readProcessTable();
        std::vector<ProcessSnapshot> rows;
        std::vector<std::int32_t> members{root};
        for (bool grew = true; grew;) {
            grew = false;
            for (const auto& row : table) {
                const bool member =
                    std::find(members.begin(), members.end(), row.pid) != members.end();
                const bool below =
                    std::find(members.begin(), members.end(), row.parentPID) != members.end();
                if (below && !member) {
                    members.push_back(row.pid);
                    grew = true;
                }
            }
        }
        for (const auto& row : table) {
            if (std::find(members.begin(), members.end(), row.pid) != members.end()) {
                rows.push_back(row);
            }
        }
        return rows;
    }

    /// Waits until logind lists a lock held by a process below `root`.
    bool lockedEventually(pid_t root) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto locks = LogindInhibitorWitness::queryLogind();
            const auto rows = treeOf(root);
            for (const auto& lock : locks.value_or(std::vector<InhibitorLock>{})) {
                for (const auto& row : rows) {
                    if (static_cast<std::int32_t>(lock.pid) == row.pid) {
                        return true;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    TemporaryDirectory folder;
};

TEST_F(AgentLocksWithRealLogind, ALockTakenBelowAnAgentIsItsWorkingVerdict) {
    const auto codex = agentNamedProgram(folder.path() / "bin", "codex");
    Child agent({codex.string(), "-c",
                 "/usr/bin/systemd-inhibit --what=sleep:idle --who=agent --why=turn "
                 "--mode=block sleep 60; :"});
    ASSERT_GT(agent.pid(), 0);
    ASSERT_TRUE(lockedEventually(agent.pid()));

    // The agent runs below this test, which plays a Stayloom that is none of these processes.
    const std::int32_t elsewhere = std::numeric_limits<std::int32_t>::max();
    LogindInhibitorWitness witness(LogindInhibitorWitness::queryLogind, elsewhere, ::getuid());
    EXPECT_EQ(witness.detectVerdicts(settings, treeOf(agent.pid()), 0),
              std::vector<AgentVerdict>{codexWorks});

    // The same lock seen from the program that holds it is this program's own.
    LogindInhibitorWitness fromTheHolder(LogindInhibitorWitness::queryLogind, agent.pid(),
                                         ::getuid());
    EXPECT_TRUE(fromTheHolder.detectVerdicts(settings, treeOf(agent.pid()), 0).empty());
}

} // namespace
