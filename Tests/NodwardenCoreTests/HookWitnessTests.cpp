// The agents' hook events against the process table of the pass: a turn lasts until it ends or
// its sender is gone.

#include <NodwardenCore/detection/ActivityDetector.hpp>
#include <NodwardenCore/hooks/HookWitness.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace nodwarden;

namespace {

constexpr std::uint64_t claudeStart = 5000;

/// A shell with Claude Code below it, and the Codex daemon handed to pid 1.
std::vector<ProcessSnapshot> table(std::uint64_t claudeStartTime = claudeStart) {
    return {
        ProcessSnapshot(100, 1, 0, "/bin/bash", "bash", 4000),
        ProcessSnapshot(200, 100, 0, "/usr/local/bin/claude", "claude", claudeStartTime),
        ProcessSnapshot(300, 1, 0, "/home/u/.codex/packages/bin/codex",
                        "codex app-server --listen unix://", 4500),
    };
}

HookEvent claude(std::string event, std::string session = "s1") {
    return {"claude", std::move(event), std::move(session), 200, claudeStart};
}

std::vector<AgentVerdict> ask(HookWitness& witness,
                              const std::vector<ProcessSnapshot>& processes = table(),
                              const GuardSettings& settings = GuardSettings::defaults()) {
    return witness.detectVerdicts(settings, processes, 0);
}

// Claude Code's hooks hear nothing of a cancelled turn: its turn is only as good as a screen.
const AgentVerdict claudeWorking{"Claude Code", AgentWorkState::working,
                                 AgentVerdictSource::hookWithoutCancel};

TEST(HookWitness, TurnStartIsAnObservedWorkingVerdictUntilItsEnd) {
    HookWitness witness;
    EXPECT_TRUE(ask(witness).empty());
    ASSERT_TRUE(witness.record(claude("UserPromptSubmit")));
    EXPECT_EQ(ask(witness), std::vector{claudeWorking});
    EXPECT_EQ(claudeWorking.quality(), EvidenceQuality::observed);
    EXPECT_EQ(ActivityDetector::verdictReason(claudeWorking), "Claude Code says it is working");
    // Events that neither start nor end a turn change nothing.
    witness.record(claude("Notification"));
    EXPECT_EQ(ask(witness), std::vector{claudeWorking});
    witness.record(claude("Stop"));
    EXPECT_TRUE(ask(witness).empty());
}

TEST(HookWitness, ATurnItsHooksCannotEndLastsWhileItsAgentShowsWork) {
    HookWitness witness;
    witness.record(claude("UserPromptSubmit"));
    witness.record({"codex", "UserPromptSubmit", "c1", 300, 4500});
    const auto settings = GuardSettings::defaults();
    auto busy = table();
    busy[1].cpuPercent = 1.3; // a model thinking in silence
    const AgentVerdict codexWorking{"Codex CLI", AgentWorkState::working, AgentVerdictSource::hook};
    EXPECT_EQ(witness.detectVerdicts(settings, busy, 100),
              (std::vector{claudeWorking, codexWorking}));
    EXPECT_EQ(witness.detectVerdicts(settings, table(), 100 + SignOfWork::quietLimit),
              (std::vector{claudeWorking, codexWorking}))
        << "a dip is not the end of a turn";
    // Cancelled with Esc: no event comes, the agent goes quiet. Codex's hooks say so themselves.
    EXPECT_EQ(witness.detectVerdicts(settings, table(), 101 + SignOfWork::quietLimit),
              std::vector{codexWorking});
    EXPECT_EQ(witness.detectVerdicts(settings, busy, 120),
              (std::vector{claudeWorking, codexWorking}))
        << "work seen again";
}

TEST(HookWitness, EachEndingEventEndsOnlyItsOwnSession) {
    for (const char* end : {"Stop", "StopFailure", "SessionEnd"}) {
        HookWitness witness;
        witness.record(claude("UserPromptSubmit", "first"));
        witness.record(claude("UserPromptSubmit", "second"));
        witness.record(claude(end, "first"));
        EXPECT_EQ(ask(witness), std::vector{claudeWorking}) << end;
        witness.record(claude(end, "second"));
        EXPECT_TRUE(ask(witness).empty()) << end;
    }
}

TEST(HookWitness, ATurnEndsWithTheProcessThatAnnouncedIt) {
    HookWitness witness;
    witness.record(claude("UserPromptSubmit"));
    // The pid taken by another process: a different start time.
    EXPECT_TRUE(ask(witness, table(claudeStart + 1)).empty());
    // Gone once is gone: the same process cannot come back.
    EXPECT_TRUE(ask(witness).empty());

    witness.record(claude("UserPromptSubmit"));
    auto withoutClaude = table();
    withoutClaude.erase(withoutClaude.begin() + 1);
    EXPECT_TRUE(ask(witness, withoutClaude).empty());

    // A turn announced in Claude Code's name by the shell is no turn of Claude Code's.
    witness.record({"claude", "UserPromptSubmit", "s1", 100, 4000});
    EXPECT_TRUE(ask(witness).empty());
}

TEST(HookWitness, CodexDaemonSpeaksAndInterruptEnds) {
    HookWitness witness;
    witness.record({"codex", "UserPromptSubmit", "t", 300, 4500});
    const std::vector<AgentVerdict> codexWorking{
        {"Codex CLI", AgentWorkState::working, AgentVerdictSource::hook}};
    EXPECT_EQ(ask(witness), codexWorking);
    // Codex's Interrupt ends a cancelled turn: its turn is its own statement.
    EXPECT_EQ(codexWorking[0].quality(), EvidenceQuality::stated);
    EXPECT_EQ(ActivityDetector::verdictReason(codexWorking[0]), "Codex CLI says it is working");
    witness.record({"codex", "Interrupt", "t", 300, 4500});
    EXPECT_TRUE(ask(witness).empty());
}

TEST(HookWitness, AQuestionToTheUserWaitsUntilItsToolTheAnswerOrTheEndAndIsNeverQuiet) {
    const AgentVerdict claudeWaits{"Claude Code", AgentWorkState::waiting,
                                   AgentVerdictSource::hookWithoutCancel};
    const auto settings = GuardSettings::defaults();
    // Claude Code: a permission notification, by its kind; a notification of another kind is not
    // a question. Qwen Code: its tool starts only after the answer.
    HookWitness witness;
    witness.record(claude("UserPromptSubmit"));
    witness.record(claude("PreToolUse"));
    witness.record({"claude", "Notification", "s1", 200, claudeStart, "idle_prompt"});
    EXPECT_EQ(ask(witness), std::vector{claudeWorking});
    witness.record({"claude", "Notification", "s1", 200, claudeStart, "permission_prompt"});
    EXPECT_EQ(witness.detectVerdicts(settings, table(), 100), std::vector{claudeWaits});
    EXPECT_EQ(witness.detectVerdicts(settings, table(), 100 + 10 * SignOfWork::quietLimit),
              std::vector{claudeWaits})
        << "waiting is quiet";
    witness.record(claude("PostToolUse"));
    EXPECT_EQ(ask(witness), std::vector{claudeWorking});
    witness.record(claude("PermissionRequest"));
    witness.record(claude("Stop"));
    EXPECT_TRUE(ask(witness).empty()) << "the end ends the wait";

    // OpenCode's plugin says when the user answered; its hooks hear a cancel, so both are stated.
    const std::vector<ProcessSnapshot> withOpenCode = {
        ProcessSnapshot(100, 1, 0, "/bin/bash", "bash", 4000),
        ProcessSnapshot(400, 100, 0, "/home/u/.bin/opencode", "opencode", 4100)};
    witness.record({"opencode", "busy", "o", 400, 4100});
    witness.record({"opencode", "permission", "o", 400, 4100});
    EXPECT_EQ(ask(witness, withOpenCode),
              (std::vector<AgentVerdict>{
                  {"OpenCode", AgentWorkState::waiting, AgentVerdictSource::hook}}));
    witness.record({"opencode", "replied", "o", 400, 4100});
    EXPECT_EQ(ask(witness, withOpenCode),
              (std::vector<AgentVerdict>{
                  {"OpenCode", AgentWorkState::working, AgentVerdictSource::hook}}));
    // Each hook is a process of its own: a tool's start fired before the question but arriving
    // after it does not end the wait, nor does a turn's end that arrives after a newer start.
    const auto openCode = [](std::string event, std::uint64_t firedAt) {
        return HookEvent{"opencode", std::move(event), "o", 400, 4100, "", firedAt};
    };
    witness.record(openCode("permission", 9000));
    witness.record(openCode("tool", 8970));
    EXPECT_EQ(ask(witness, withOpenCode),
              (std::vector<AgentVerdict>{
                  {"OpenCode", AgentWorkState::waiting, AgentVerdictSource::hook}}));
    witness.record(openCode("busy", 9200));
    witness.record(openCode("idle", 9100));
    EXPECT_EQ(ask(witness, withOpenCode).size(), 1u) << "the late end was of the turn before";
    witness.record(openCode("idle", 9300));
    witness.record(openCode("toolDone", 9250));
    EXPECT_TRUE(ask(witness, withOpenCode).empty()) << "a late event does not start it again";
    // An event whose session could not be read is of the turns its sender has under way.
    witness.record(openCode("busy", 9400));
    witness.record({"opencode", "permission", "", 400, 4100});
    EXPECT_EQ(ask(witness, withOpenCode),
              (std::vector<AgentVerdict>{
                  {"OpenCode", AgentWorkState::waiting, AgentVerdictSource::hook}}));
    witness.record({"opencode", "idle", "", 400, 4100});
    EXPECT_TRUE(ask(witness, withOpenCode).empty());
    // A wait that never ends goes with its sender.
    witness.record({"opencode", "permission", "o", 400, 4100});
    EXPECT_TRUE(ask(witness, table()).empty());
}

TEST(HookWitness, UnknownAgentsAndSwitchedOffAgentsGiveNoVerdict) {
    HookWitness witness;
    EXPECT_FALSE(witness.record({"cursor", "UserPromptSubmit", "s", 200, claudeStart}));
    witness.record(claude("UserPromptSubmit"));
    GuardSettings settings{.disabledAgentIDs = {"claude-code"}};
    EXPECT_TRUE(ask(witness, table(), settings).empty());
}

TEST(HookWitness, KeepsABoundedNumberOfTurns) {
    HookWitness witness;
    for (std::size_t index = 0; index < HookWitness::maxTurns + 10; ++index) {
        witness.record(claude("UserPromptSubmit", "spam" + std::to_string(index)));
    }
    // The store is full: a later turn is not taken, while the earlier ones still end one by one.
    witness.record({"gemini", "BeforeAgent", "g", 100, 4000});
    EXPECT_EQ(ask(witness), std::vector{claudeWorking});
}

// Events come from the control socket's thread while a pass reads the store (run under tsan).
TEST(HookWitness, EventsAndPassesMayOverlap) {
    HookWitness witness;
    std::atomic<bool> asking{false};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        // Events start only once passes do, so the two always overlap (a sender done before the
        // first pass tested nothing).
        while (!asking) {
            std::this_thread::yield();
        }
        for (int turn = 0; turn < 2000; ++turn) {
            witness.record(claude(turn % 2 == 0 ? "UserPromptSubmit" : "Stop"));
        }
        done = true;
    });
    do {
        asking = true;
        EXPECT_LE(ask(witness).size(), 1U);
    } while (!done);
    sender.join();
    EXPECT_TRUE(ask(witness).empty());
}

} // namespace
