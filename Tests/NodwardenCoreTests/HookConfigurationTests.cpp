// Our hook entries merged into agents' own configurations that already hold the user's.

#include <NodwardenCore/hooks/HookAgents.hpp>
#include <NodwardenCore/hooks/HookConfiguration.hpp>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using namespace nodwarden;
namespace Config = HookConfiguration;
using Outcome = Config::Edit::Outcome;
using Json = nlohmann::ordered_json;

namespace {

const std::string program = "/usr/bin/stayloom";

struct Case {
    const char* name;
    Config::Shape shape;
    const char* agent;
    std::vector<std::string> events;
    /// The user's file before anything of ours.
    std::string before;
};

// Each the user's own: their hooks on the same events, keys we do not know, in their order.
const Case cases[] = {
    {"Claude settings with the user's hooks",
     Config::Shape::grouped,
     "claude",
     {"UserPromptSubmit", "Stop", "StopFailure", "SessionEnd"},
     R"json({"model": "opus", "hooks": {"Stop": [{"matcher": "", "hooks": [{"type": "command",
        "command": "notify-send done"}]}], "PreToolUse": [{"matcher": "Bash", "hooks": [{"type":
        "command", "command": "/home/u/check.sh"}]}]}, "permissions": {"allow": ["Bash(ls)"]}})json"},
    {"Codex hooks.json missing",
     Config::Shape::grouped,
     "codex",
     {"UserPromptSubmit", "Stop", "Interrupt"},
     ""},
    {"Gemini settings without hooks",
     Config::Shape::grouped,
     "gemini",
     {"BeforeAgent", "AfterAgent"},
     R"json({"security": {"auth": {"selectedType": "gemini-api-key"}}, "ui": {"theme": "x"}})json"},
    {"Copilot hooks with the user's entry",
     Config::Shape::flat,
     "copilot",
     {"userPromptSubmitted", "agentStop", "errorOccurred"},
     R"json({"version": 1, "hooks": {"agentStop": [{"type": "command", "bash": "./log.sh",
        "timeoutSec": 30}]}, "comment-like": "x"})json"},
};

Json parsed(const std::string& text) {
    return text.empty() ? Json::object() : Json::parse(text);
}

TEST(HookConfiguration, InstallKeepsTheUsersEntriesTwiceChangesNothingAndRemoveRestoresThem) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(Config::installed(c.before, c.shape, c.agent, c.events));
        const auto added = Config::install(c.before, c.shape, program, c.agent, c.events);
        ASSERT_EQ(added.outcome, Outcome::changed) << added.reason;
        EXPECT_TRUE(Config::installed(added.text, c.shape, c.agent, c.events));
        // Another agent's entries are not ours.
        EXPECT_FALSE(Config::installed(added.text, c.shape, "qwen", c.events));

        // Everything of the user's is still there, unchanged and in its place.
        const Json before = parsed(c.before);
        const Json after = parsed(added.text);
        for (const auto& [key, value] : before.items()) {
            if (key != "hooks") {
                EXPECT_EQ(after.at(key), value) << key;
            }
        }
        if (before.contains("hooks")) {
            for (const auto& [event, list] : before["hooks"].items()) {
                for (std::size_t index = 0; index < list.size(); ++index) {
                    EXPECT_EQ(after["hooks"][event][index], list[index]) << event;
                }
            }
        }

        EXPECT_EQ(Config::install(added.text, c.shape, program, c.agent, c.events).outcome,
                  Outcome::unchanged);
        // Installed from elsewhere, the entries are still known as ours.
        EXPECT_EQ(Config::install(added.text, c.shape, "/opt/Stay loom/stayloom", c.agent, c.events)
                      .outcome,
                  Outcome::unchanged);

        const auto removed = Config::remove(added.text, c.shape, c.agent);
        ASSERT_EQ(removed.outcome, Outcome::changed) << removed.reason;
        Json expected = before;
        if (c.shape == Config::Shape::flat) {
            expected["version"] = 1;
        }
        EXPECT_EQ(parsed(removed.text), expected);
        EXPECT_EQ(Config::remove(removed.text, c.shape, c.agent).outcome, Outcome::unchanged);
    }
}

TEST(HookConfiguration, ACancelledQwenTurnEndsOnItsWaitingForInputNotificationOnly) {
    // Qwen Code sends no end when a turn is cancelled; its notification that the prompt waits is
    // the one word that comes. Any other notification (a permission asked for) is mid-turn.
    const HookAgent& qwen = *HookAgents::find("qwen");
    EXPECT_EQ(HookAgents::turnOf(qwen, "Notification"), HookTurn::ends);
    std::vector<std::string> events = qwen.startEvents;
    events.insert(events.end(), qwen.endEvents.begin(), qwen.endEvents.end());
    const auto added =
        Config::install("", Config::Shape::grouped, program, "qwen", events, qwen.matchers);
    ASSERT_EQ(added.outcome, Outcome::changed) << added.reason;
    const Json hooks = Json::parse(added.text)["hooks"];
    ASSERT_EQ(hooks["Notification"].size(), 1u);
    EXPECT_EQ(hooks["Notification"][0].value("matcher", ""), "idle_prompt");
    EXPECT_EQ(hooks["Notification"][0]["hooks"][0]["command"],
              Config::command(program, "qwen", "Notification"));
    EXPECT_FALSE(hooks["Stop"][0].contains("matcher"));
}

TEST(HookConfiguration, APathThatNeedsQuotingIsQuotedAndStillOurs) {
    const std::string odd = "/home/u/my apps/it's/stayloom";
    EXPECT_EQ(Config::command(odd, "claude", "Stop"),
              "'/home/u/my apps/it'\\''s/stayloom' hook claude Stop");
    const auto added = Config::install("", Config::Shape::grouped, odd, "claude", {"Stop"});
    EXPECT_TRUE(Config::installed(added.text, Config::Shape::grouped, "claude", {"Stop"}));
    // A user's own command that merely mentions the words is left alone.
    const std::string theirs =
        R"json({"hooks": {"Stop": [{"hooks": [{"type": "command", "command": "echo hook claude Stop"}]}]}})json";
    EXPECT_EQ(Config::remove(theirs, Config::Shape::grouped, "claude").outcome, Outcome::unchanged);
    // Our entries as the user re-quoted them are still ours: recognised, and removed.
    for (const char* requoted :
         {R"("/usr/bin/stayloom" hook claude Stop)", R"('/usr/bin/stayloom' hook claude Stop)",
          R"(/usr/bin/stay"loom" hook 'claude' Stop)",
          R"("/home/u/my apps/it's/stayloom"  hook  claude  Stop)",
          R"(/home/u/my\ apps/stayloom hook claude Stop)"}) {
        const std::string text =
            R"({"hooks": {"Stop": [{"hooks": [{"type": "command", "command": )" +
            Json(requoted).dump() + "}]}]}}";
        EXPECT_TRUE(Config::installed(text, Config::Shape::grouped, "claude", {"Stop"})) << text;
        const auto removed = Config::remove(text, Config::Shape::grouped, "claude");
        EXPECT_EQ(removed.outcome, Outcome::changed) << text;
        EXPECT_FALSE(Json::parse(removed.text).contains("hooks")) << removed.text;
    }
}

TEST(HookConfiguration, FilesItCannotEditFaithfullyAreRefusedUntouched) {
    const std::vector<std::string> refusedFiles{
        // Comments the JSON reader would drop.
        "{\n  // my hooks\n  \"hooks\": {}\n}\n",
        "{\"model\": \"x\" /* keep */}",
        "not json",
        "[1, 2]",
        R"json({"hooks": ["Stop"]})json",
        R"json({"hooks": {"Stop": {"command": "x"}}})json",
        // Nested far deeper than any settings file, as a 40 KB file can be: refused, not walked.
        std::string(20000, '[') + std::string(20000, ']'),
        "{\"a\": " + std::string(Config::maxDepth, '[') + std::string(Config::maxDepth, ']') + "}",
    };
    for (const std::string& text : refusedFiles) {
        const auto edit =
            Config::install(text, Config::Shape::grouped, program, "claude", {"Stop"});
        EXPECT_EQ(edit.outcome, Outcome::refused) << text;
        EXPECT_FALSE(edit.reason.empty());
    }
    EXPECT_NE(Config::install(refusedFiles[0], Config::Shape::grouped, program, "claude", {"Stop"})
                  .reason.find("comments"),
              std::string::npos);
    EXPECT_EQ(Config::remove(refusedFiles[0], Config::Shape::grouped, "claude").outcome,
              Outcome::refused);
    for (const std::string& deep : {refusedFiles.end()[-2], refusedFiles.end()[-1]}) {
        EXPECT_NE(Config::install(deep, Config::Shape::flat, program, "copilot", {"agentStop"})
                      .reason.find("nests deeper than"),
                  std::string::npos);
        EXPECT_EQ(Config::remove(deep, Config::Shape::grouped, "claude").outcome, Outcome::refused);
        EXPECT_FALSE(Config::installed(deep, Config::Shape::grouped, "claude", {"Stop"}));
    }
    // Only a text that is not JSON at all may be a file caught half-saved, worth reading again.
    EXPECT_TRUE(
        Config::install("{\"model\": \"op", Config::Shape::grouped, program, "claude", {"Stop"})
            .cutShort);
    EXPECT_FALSE(
        Config::install(refusedFiles[0], Config::Shape::grouped, program, "claude", {"Stop"})
            .cutShort);
    // Deep but within bounds, strings full of brackets included, is edited as usual.
    const std::string withinBounds = "{\"a\": " + std::string(Config::maxDepth - 1, '[') +
                                     "\"[[{{\"" + std::string(Config::maxDepth - 1, ']') + "}";
    EXPECT_EQ(
        Config::install(withinBounds, Config::Shape::grouped, program, "claude", {"Stop"}).outcome,
        Outcome::changed);
}

} // namespace
