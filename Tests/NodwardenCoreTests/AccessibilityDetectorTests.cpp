#include <NodwardenCore/detection/AccessibilityDetector.hpp>

#include "Support/FakeAccessibilityPlatform.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace nodwarden;
using namespace stayloom::testing;
using ElementPtr = std::shared_ptr<FakeElement>;
namespace Attribute = nodwarden::AccessibilityAttribute;

namespace {

constexpr int pid = 501;

/// Elements `prefix`0 -> `prefix`1 -> ..., each titled with its label; returns the top one.
ElementPtr makeChain(const std::string& prefix, int length) {
    ElementPtr below;
    for (int level = length - 1; level >= 0; --level) {
        auto element = makeElement(prefix + std::to_string(level), prefix + std::to_string(level));
        if (below) {
            element->setChildren({below});
        }
        below = element;
    }
    return below;
}

/// An element with `count` of its four text attributes set.
ElementPtr withFragments(const std::string& label, int count) {
    auto element = makeElement(label);
    const std::string_view attributes[] = {Attribute::title, Attribute::value,
                                           Attribute::description, Attribute::help};
    for (int index = 0; index < count; ++index) {
        element->set(attributes[index], label + "." + std::to_string(index));
    }
    return element;
}

struct Screen {
    FakeAccessibilityPlatform platform;
    AccessibilityDetector detector{platform};

    /// Registers an application whose focused window (or window list) is given.
    std::string text(const ElementPtr& focused, const std::vector<ElementPtr>& windows = {}) {
        auto application = makeElement("app");
        if (focused) {
            application->set(Attribute::focusedWindow, AccessibilityElement(focused));
        }
        application->set(Attribute::windows, elementList(windows));
        platform.addApplication("com.example.app", "App", pid, application);
        return detector.visibleText(pid);
    }
    bool visited(const std::string& label) const {
        const auto labels = platform.visitedElements();
        return std::find(labels.begin(), labels.end(), label) != labels.end();
    }
};

TEST(AccessibilityVisibleText, FocusedWindowIsReadFiveLevelsDeepAndAloneWhenPresent) {
    Screen screen;
    EXPECT_EQ(screen.text(makeChain("d", 7), {makeElement("other", "other")}), "d0 d1 d2 d3 d4");
    EXPECT_FALSE(screen.visited("d5"));
    EXPECT_FALSE(screen.visited("other"));
}

TEST(AccessibilityVisibleText, WithoutFocusTheFirstThreeWindowsAreReadFourLevelsDeep) {
    Screen screen;
    std::vector<ElementPtr> windows;
    for (const char* prefix : {"a", "b", "c", "d", "e"}) {
        windows.push_back(makeChain(prefix, 6));
    }
    EXPECT_EQ(screen.text(nullptr, windows), "a0 a1 a2 a3 b0 b1 b2 b3 c0 c1 c2 c3");
    EXPECT_FALSE(screen.visited("d0"));
}

TEST(AccessibilityVisibleText, OnlyTheFirstEightyChildrenAreFollowed) {
    Screen screen;
    auto window = makeElement("window");
    window->setChildren(stayloom::testing::makeTitledElements("c", 100));
    const std::string text = screen.text(window);
    EXPECT_EQ(std::count(text.begin(), text.end(), ' '), 79);
    EXPECT_TRUE(text.ends_with(" c78 c79"));
    EXPECT_FALSE(screen.visited("c80"));
}

TEST(AccessibilityVisibleText, FragmentLimitIsCheckedOnEntrySoOneElementMayOvershoot) {
    Screen screen;
    auto window = makeElement("window", "title");
    std::vector<ElementPtr> children;
    for (int index = 0; index < 74; ++index) {
        children.push_back(withFragments("full" + std::to_string(index), 4));
    }
    // 1 + 74 * 4 + 2 = 299 fragments on entry to "last", which still adds its four.
    children.push_back(withFragments("pair", 2));
    children.push_back(withFragments("last", 4));
    children.push_back(withFragments("beyond", 4));
    window->setChildren(children);
    const std::string text = screen.text(window);
    EXPECT_EQ(std::count(text.begin(), text.end(), ' '), 302);
    EXPECT_TRUE(text.ends_with(" last.3"));
    EXPECT_FALSE(screen.visited("beyond"));
}

TEST(AccessibilityVisibleText, ReadsTextAttributesInOrderSkippingBlankAndForeignValues) {
    Screen screen;
    auto window = makeElement("window");
    window->set(Attribute::help, std::string("  help  "))
        .set(Attribute::description, AccessibilityElement(makeElement("stray")))
        .set(Attribute::value, std::string(" \n\t "))
        .set(Attribute::title, std::string("Title"))
        .set(Attribute::children, std::string("children of the wrong type"));
    EXPECT_EQ(screen.text(window), "Title   help  ");
    EXPECT_EQ(screen.detector.visibleText(999), "");
}

TEST(AccessibilityWindowTitles, ListsStringTitlesOfEveryWindowInOrder) {
    Screen screen;
    auto foreign = makeElement("foreign");
    foreign->set(Attribute::title, AccessibilityElement(makeElement("not text")));
    std::vector<ElementPtr> windows = {makeElement("one", "One"), makeElement("empty", ""), foreign,
                                       makeElement("untitled")};
    for (const auto& window : stayloom::testing::makeTitledElements("w", 3)) {
        windows.push_back(window);
    }
    screen.text(nullptr, windows);
    EXPECT_EQ(screen.detector.windowTitles(pid),
              (std::vector<std::string>{"One", "", "w0", "w1", "w2"}));
}

// MARK: - Detection per application

GuardSettings settings(std::vector<std::string> targets = {}) {
    return GuardSettings{.targetApps = std::move(targets),
                         .activePhrases = {"busy now"},
                         .idlePhrases = {"waiting for you"}};
}

/// Name -> strength and matched phrase of each signal.
std::map<std::string, std::string> summary(const std::vector<ActivitySignal>& signals) {
    std::map<std::string, std::string> result;
    for (const ActivitySignal& signal : signals) {
        const std::string strength = signal.strength == SignalStrength::strong     ? "strong: "
                                     : signal.strength == SignalStrength::presence ? "presence: "
                                                                                   : "other: ";
        EXPECT_TRUE(result
                        .emplace(signal.appName.value_or("<none>"),
                                 strength + signal.matchedText.value_or("<none>"))
                        .second);
    }
    return result;
}

TEST(AccessibilityDetectPerApp, KnownAgentSignalsCarryThePhraseAndTheReason) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("COM.OpenAI.Chat", "ChatGPT", 1, "Thinking… STOP GENERATING");
    platform.addApplicationShowing("com.anthropic.claudefordesktop", "Claude", 2,
                                   "Reply to Claude");
    platform.addApplicationShowing("com.google.chrome", "Chrome", 3, "Claude is working");
    auto split = makeElement("window");
    split->setChildren({makeElement("left", "Generating"), makeElement("right", "response")});
    auto zed = makeElement("zed");
    zed->set(Attribute::focusedWindow, AccessibilityElement(split));
    platform.addApplication("dev.zed.zed", "Zed", 4, zed);

    const auto signals = AccessibilityDetector(platform).detectPerApp(settings());
    EXPECT_EQ(summary(signals),
              (std::map<std::string, std::string>{{"ChatGPT", "strong: Stop generating"},
                                                  {"Claude", "presence: Reply to Claude"},
                                                  {"Zed", "strong: Generating response"}}));
    ActivitySignal idle;
    idle.strength = SignalStrength::presence;
    idle.appName = "Claude";
    idle.reason = "UI text matched idle phrase \"Reply to Claude\"";
    idle.matchedText = "Reply to Claude";
    idle.reasonCode = nodwarden::ReasonCode::screenIdlePhrase;
    idle.reasonDetail = "Reply to Claude";
    EXPECT_NE(std::find(signals.begin(), signals.end(), idle), signals.end());
    EXPECT_NE(std::find_if(signals.begin(), signals.end(),
                           [](const ActivitySignal& signal) {
                               return signal.reason ==
                                      "UI text matched active phrase \"Stop generating\"";
                           }),
              signals.end());
}

TEST(AccessibilityDetectPerApp, TerminalsCreditEveryCommandLineAgentWithAMultiWordHit) {
    const std::map<std::string, std::string> allInterrupted = {
        {"Aider", "strong: to interrupt"},          {"Claude Code", "strong: esc to interrupt"},
        {"Codex CLI", "strong: esc to interrupt"},  {"Copilot CLI", "strong: esc to interrupt"},
        {"Gemini CLI", "strong: esc to interrupt"}, {"Grok Build", "strong: to interrupt"},
        {"OpenCode", "strong: esc to interrupt"},   {"Pi", "strong: esc to interrupt"},
        {"Qwen Code", "strong: esc to interrupt"}};
    const std::vector<std::pair<std::string, std::map<std::string, std::string>>> screens = {
        {"✻ Pondering… (esc to interrupt)", allInterrupted},
        {"ESC TO\nINTERRUPT", allInterrupted},
        {"Working\nTokens: 12k  tokens", {}},
        {"12 tokens used",
         {{"Claude Code", "strong: tokens used"}, {"Codex CLI", "strong: tokens used"}}},
        {"Reading (3s · esc to cancel)", {{"Qwen Code", "strong: · esc to cancel)"}}},
        {"esc to cancel, 3s", {{"Gemini CLI", "strong: esc to cancel,"}}},
        {"user@host:~$ ls", {}}};
    for (const auto& [text, expected] : screens) {
        FakeAccessibilityPlatform platform;
        platform.addApplicationShowing("com.apple.Terminal", "Terminal", pid, text);
        EXPECT_EQ(summary(AccessibilityDetector(platform).detectPerApp(settings())), expected)
            << text;
    }

    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.googlecode.iterm2", "iTerm2", pid, "esc to interrupt");
    GuardSettings someDisabled = settings();
    someDisabled.disabledAgentIDs = {"claude-code", "aider"};
    const auto names = summary(AccessibilityDetector(platform).detectPerApp(someDisabled));
    EXPECT_EQ(names.size(), 7U);
    EXPECT_FALSE(names.contains("Claude Code") || names.contains("Aider"));
}

TEST(AccessibilityDetectPerApp, PlatformTerminalsAreScannedOnlyWhenTheDetectorIsToldOfThem) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("org.gnome.Terminal", "Terminal", pid, "esc to interrupt");
    EXPECT_TRUE(AccessibilityDetector(platform).detectPerApp(settings()).empty());
    const auto names =
        summary(AccessibilityDetector(platform, {"org.gnome.terminal"}).detectPerApp(settings()));
    EXPECT_EQ(names.at("Claude Code"), "strong: esc to interrupt");
}

TEST(AccessibilityDetectPerApp, LegacyTargetsUseTheUsersPhrasesAndTheNameAsWritten) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("org.example.mytool", "MyTool Desktop.app", 1, "Busy now");
    platform.addApplicationShowing("org.example.helper", "helper", 2, "waiting for you");
    platform.addApplicationShowing(std::nullopt, std::nullopt, 3, "busy now");
    platform.addApplicationShowing("org.example.blank", " Desktop.app ", 4, "busy now");
    platform.addApplicationShowing("com.openai.chat", "ChatGPT", 5, "busy now");
    platform.addApplicationShowing("com.example.mail", "Mail", 6, "esc to interrupt");
    const auto targets =
        settings({"", "   ", "Nothing Here", "mytool", "Helper Suite", "MyTool", "ChatGPT"});

    EXPECT_EQ(summary(AccessibilityDetector(platform).detectPerApp(targets)),
              (std::map<std::string, std::string>{{"mytool", "strong: busy now"},
                                                  {"Helper Suite", "presence: waiting for you"}}));
    for (const auto& read : platform.reads()) {
        EXPECT_TRUE(read.elementLabel.starts_with("pid1") ||
                    read.elementLabel.starts_with("pid2") || read.elementLabel.starts_with("pid5"))
            << read.elementLabel << " should not have been read";
    }
}

TEST(AccessibilityDetectPerApp, OneSignalPerNameAndOnlyAStrongerOneReplacesIt) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"Ask anything", "Stop streaming"}, "strong: Stop streaming"},
        {{"Stop streaming", "Ask anything"}, "strong: Stop streaming"},
        {{"Stop streaming", "Generating"}, "strong: Stop streaming"},
        {{"Ask Codex", "", "nothing"}, "presence: Ask Codex"}};
    for (const auto& [screens, expected] : cases) {
        FakeAccessibilityPlatform platform;
        int processIdentifier = 100;
        for (const std::string& text : screens) {
            // Both bundle identifiers belong to the same agent.
            platform.addApplicationShowing(processIdentifier % 2 ? "com.openai.codex"
                                                                 : "com.openai.chat",
                                           "ChatGPT", processIdentifier, text);
            ++processIdentifier;
        }
        EXPECT_EQ(summary(AccessibilityDetector(platform).detectPerApp(settings())),
                  (std::map<std::string, std::string>{{"ChatGPT", expected}}));
    }
}

TEST(AccessibilityDetectPerApp, SwitchedOffOrUntrustedQueriesNoApplication) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.openai.chat", "ChatGPT", pid, "Stop generating");
    const AccessibilityDetector detector(platform);
    GuardSettings switchedOff = settings();
    switchedOff.accessibilityDetectionEnabled = false;

    EXPECT_TRUE(detector.detectPerApp(switchedOff).empty());
    platform.setTrusted(false);
    EXPECT_FALSE(detector.isTrusted());
    EXPECT_TRUE(detector.detectPerApp(settings()).empty());
    EXPECT_EQ(platform.listingCount(), 0);
    EXPECT_TRUE(platform.reads().empty());
    detector.requestPermissionPrompt();
    EXPECT_EQ(platform.promptCount(), 1);

    platform.setTrusted(true);
    EXPECT_EQ(strongestSignal(detector.detectPerApp(settings())).matchedText, "Stop generating");
}

} // namespace
