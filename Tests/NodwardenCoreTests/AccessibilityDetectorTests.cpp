#include <NodwardenCore/AccessibilityDetector.hpp>

#include "Support/FakeAccessibilityPlatform.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <vector>

using nodwarden::AccessibilityDetector;
using nodwarden::AccessibilityElement;
using nodwarden::ActivitySignal;
using nodwarden::GuardSettings;
using nodwarden::SignalStrength;
using stayloom::testing::FakeAccessibilityPlatform;
using stayloom::testing::FakeElement;
using stayloom::testing::makeElement;
using stayloom::testing::makeTitledElements;
namespace Attribute = nodwarden::AccessibilityAttribute;

namespace {

constexpr int pid = 501;

/// A chain of elements `prefix`0 -> `prefix`1 -> ... each titled with its label; returns the top.
std::shared_ptr<FakeElement> makeChain(const std::string& prefix, int length) {
    std::shared_ptr<FakeElement> below;
    for (int level = length - 1; level >= 0; --level) {
        auto element = makeElement(prefix + std::to_string(level), prefix + std::to_string(level));
        if (below) {
            element->setChildren({below});
        }
        below = element;
    }
    return below;
}

std::shared_ptr<FakeElement>
applicationWithFocusedWindow(const std::shared_ptr<FakeElement>& window) {
    auto application = makeElement("app");
    application->set(Attribute::focusedWindow, AccessibilityElement(window));
    return application;
}

std::shared_ptr<FakeElement>
applicationWithWindows(const std::vector<std::shared_ptr<FakeElement>>& windows) {
    auto application = makeElement("app");
    application->set(Attribute::windows, stayloom::testing::elementList(windows));
    return application;
}

int fragmentCount(const std::string& text) {
    return text.empty() ? 0 : static_cast<int>(std::count(text.begin(), text.end(), ' ')) + 1;
}

bool wasRead(const FakeAccessibilityPlatform& platform, const std::string& label) {
    const auto visited = platform.visitedElements();
    return std::find(visited.begin(), visited.end(), label) != visited.end();
}

// MARK: - Text collection

TEST(AccessibilityVisibleText, FocusedWindowIsWalkedFiveLevelsDeep) {
    FakeAccessibilityPlatform platform;
    auto otherWindow = makeElement("other", "other");
    auto application = applicationWithFocusedWindow(makeChain("d", 7));
    application->set(Attribute::windows, stayloom::testing::elementList({otherWindow}));
    platform.addApplication("com.example.app", "App", pid, application);

    EXPECT_EQ(AccessibilityDetector(platform).visibleText(pid), "d0 d1 d2 d3 d4");
    EXPECT_FALSE(wasRead(platform, "d5"));
    EXPECT_FALSE(wasRead(platform, "other")) << "the window list is only a fallback";
}

TEST(AccessibilityVisibleText, WithoutFocusOnlyTheFirstThreeWindowsAreWalkedFourLevelsDeep) {
    FakeAccessibilityPlatform platform;
    std::vector<std::shared_ptr<FakeElement>> windows;
    for (const char* prefix : {"a", "b", "c", "d", "e"}) {
        windows.push_back(makeChain(prefix, 6));
    }
    platform.addApplication("com.example.app", "App", pid, applicationWithWindows(windows));

    EXPECT_EQ(AccessibilityDetector(platform).visibleText(pid),
              "a0 a1 a2 a3 b0 b1 b2 b3 c0 c1 c2 c3");
    EXPECT_FALSE(wasRead(platform, "d0"));
    EXPECT_FALSE(wasRead(platform, "a4"));
}

TEST(AccessibilityVisibleText, FocusedWindowOfAnotherTypeFallsBackToTheWindowList) {
    FakeAccessibilityPlatform platform;
    auto application = applicationWithWindows({makeElement("w", "listed")});
    application->set(Attribute::focusedWindow, std::string("not an element"));
    platform.addApplication("com.example.app", "App", pid, application);

    EXPECT_EQ(AccessibilityDetector(platform).visibleText(pid), "listed");
}

TEST(AccessibilityVisibleText, OnlyTheFirstEightyChildrenAreFollowed) {
    FakeAccessibilityPlatform platform;
    auto window = makeElement("window");
    window->setChildren(makeTitledElements("c", 100));
    platform.addApplication("com.example.app", "App", pid, applicationWithFocusedWindow(window));

    const std::string text = AccessibilityDetector(platform).visibleText(pid);
    EXPECT_EQ(fragmentCount(text), 80);
    EXPECT_EQ(text.substr(0, 6), "c0 c1 ");
    EXPECT_EQ(text.substr(text.size() - 4), " c79");
    EXPECT_FALSE(wasRead(platform, "c80"));
}

std::shared_ptr<FakeElement> elementWithFragments(const std::string& label, int count) {
    auto element = makeElement(label);
    const std::string_view attributes[] = {Attribute::title, Attribute::value,
                                           Attribute::description, Attribute::help};
    for (int index = 0; index < count; ++index) {
        element->set(attributes[index], label + "." + std::to_string(index));
    }
    return element;
}

TEST(AccessibilityVisibleText, FragmentLimitIsCheckedOnEntryToEachElement) {
    // 1 + 74 * 4 + 2 = 299 fragments before the next element, which may still add all four.
    FakeAccessibilityPlatform platform;
    auto window = makeElement("window", "title");
    std::vector<std::shared_ptr<FakeElement>> children;
    for (int index = 0; index < 74; ++index) {
        children.push_back(elementWithFragments("full" + std::to_string(index), 4));
    }
    children.push_back(elementWithFragments("pair", 2));
    children.push_back(elementWithFragments("last", 4));
    children.push_back(elementWithFragments("beyond", 4));
    window->setChildren(children);
    platform.addApplication("com.example.app", "App", pid, applicationWithFocusedWindow(window));

    const std::string text = AccessibilityDetector(platform).visibleText(pid);
    EXPECT_EQ(fragmentCount(text), 303);
    EXPECT_EQ(text.substr(text.size() - 7), " last.3");
    EXPECT_FALSE(wasRead(platform, "beyond"));
}

TEST(AccessibilityVisibleText, FragmentLimitSpansAllWindowsOfOneApplication) {
    FakeAccessibilityPlatform platform;
    auto crowded = makeElement("crowded");
    std::vector<std::shared_ptr<FakeElement>> children;
    for (int index = 0; index < 80; ++index) {
        children.push_back(elementWithFragments("x" + std::to_string(index), 4));
    }
    crowded->setChildren(children);
    platform.addApplication("com.example.app", "App", pid,
                            applicationWithWindows({crowded, makeElement("second", "second")}));

    const std::string text = AccessibilityDetector(platform).visibleText(pid);
    EXPECT_EQ(fragmentCount(text), 300);
    EXPECT_FALSE(wasRead(platform, "second"));
}

TEST(AccessibilityVisibleText, ReadsTextAttributesInOrderAndSkipsBlankAndForeignValues) {
    FakeAccessibilityPlatform platform;
    auto window = makeElement("window");
    window->set(Attribute::title, std::string("Title"))
        .set(Attribute::value, std::string(" \n\t "))
        .set(Attribute::description, AccessibilityElement(makeElement("stray")))
        .set(Attribute::help, std::string("  help  "))
        .set(Attribute::children, std::string("children of the wrong type"));
    platform.addApplication("com.example.app", "App", pid, applicationWithFocusedWindow(window));

    EXPECT_EQ(AccessibilityDetector(platform).visibleText(pid), "Title   help  ");
}

TEST(AccessibilityVisibleText, NothingReadableGivesEmptyText) {
    FakeAccessibilityPlatform platform;
    platform.addApplication("com.example.none", "No tree", 1, nullptr);
    platform.addApplication("com.example.bare", "No windows", 2, makeElement("bare"));
    const AccessibilityDetector detector(platform);

    EXPECT_EQ(detector.visibleText(1), "");
    EXPECT_EQ(detector.visibleText(2), "");
    EXPECT_EQ(detector.visibleText(999), "");
}

TEST(AccessibilityWindowTitles, ListsStringTitlesOfAllWindowsInOrder) {
    FakeAccessibilityPlatform platform;
    auto untitled = makeElement("untitled", "");
    auto numeric = makeElement("numeric");
    numeric->set(Attribute::title, AccessibilityElement(makeElement("not text")));
    auto missing = makeElement("missing");
    std::vector<std::shared_ptr<FakeElement>> windows = {makeElement("one", "One"), untitled,
                                                         numeric, missing};
    for (const auto& window : makeTitledElements("w", 3)) {
        windows.push_back(window);
    }
    platform.addApplication("com.example.app", "App", pid, applicationWithWindows(windows));
    const AccessibilityDetector detector(platform);

    EXPECT_EQ(detector.windowTitles(pid), (std::vector<std::string>{"One", "", "w0", "w1", "w2"}));
    EXPECT_TRUE(detector.windowTitles(999).empty());
}

// MARK: - Detection per application

GuardSettings settings() {
    GuardSettings result = GuardSettings::defaults();
    result.targetApps = {};
    result.activePhrases = {"busy now"};
    result.idlePhrases = {"waiting for you"};
    return result;
}

std::map<std::string, ActivitySignal> byName(const std::vector<ActivitySignal>& signals) {
    std::map<std::string, ActivitySignal> result;
    for (const ActivitySignal& signal : signals) {
        EXPECT_TRUE(signal.appName.has_value());
        EXPECT_TRUE(result.emplace(signal.appName.value_or(""), signal).second)
            << "two signals for " << signal.appName.value_or("");
    }
    return result;
}

/// Name -> matched phrase of each signal, with its strength folded in as a prefix.
std::map<std::string, std::string> summary(const std::vector<ActivitySignal>& signals) {
    std::map<std::string, std::string> result;
    for (const auto& [name, signal] : byName(signals)) {
        const char* strength = signal.strength == SignalStrength::strong     ? "strong: "
                               : signal.strength == SignalStrength::presence ? "presence: "
                                                                             : "other: ";
        result[name] = strength + signal.matchedText.value_or("<none>");
    }
    return result;
}

TEST(AccessibilityDetectPerApp, ActivePhraseOfAKnownAgentGivesAStrongSignal) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("COM.OpenAI.Chat", "ChatGPT", pid, "Thinking… STOP GENERATING");

    const auto signals = AccessibilityDetector(platform).detectPerApp(settings());
    ASSERT_EQ(signals.size(), 1U);
    ActivitySignal expected;
    expected.strength = SignalStrength::strong;
    expected.appName = "ChatGPT";
    expected.reason = "UI text matched active phrase \"Stop generating\"";
    expected.matchedText = "Stop generating";
    EXPECT_EQ(signals[0], expected);
}

TEST(AccessibilityDetectPerApp, IdlePhraseOfAKnownAgentGivesPresenceWithTheIdleReason) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.anthropic.claudefordesktop", "Claude", pid,
                                   "Reply to Claude…");

    const auto signals = AccessibilityDetector(platform).detectPerApp(settings());
    ASSERT_EQ(signals.size(), 1U);
    EXPECT_EQ(signals[0].strength, SignalStrength::presence);
    EXPECT_EQ(signals[0].appName, "Claude");
    EXPECT_EQ(signals[0].reason, "UI text matched idle phrase \"Reply to Claude\"");
    EXPECT_EQ(signals[0].matchedText, "Reply to Claude");
    EXPECT_FALSE(signals[0].sessionCount.has_value());
    EXPECT_FALSE(signals[0].processPresent.has_value());
}

TEST(AccessibilityDetectPerApp, PhraseSplitAcrossTwoElementsMatches) {
    FakeAccessibilityPlatform platform;
    auto window = makeElement("window");
    window->setChildren({makeElement("left", "Generating"), makeElement("right", "response")});
    platform.addApplication("dev.zed.zed", "Zed", pid, applicationWithFocusedWindow(window));

    EXPECT_EQ(summary(AccessibilityDetector(platform).detectPerApp(settings())),
              (std::map<std::string, std::string>{{"Zed", "strong: Generating response"}}));
}

struct TerminalCase {
    const char* name;
    std::string screen;
    std::map<std::string, std::string> expected;
};

void PrintTo(const TerminalCase& c, std::ostream* os) {
    *os << c.name;
}

class AccessibilityTerminal : public testing::TestWithParam<TerminalCase> {};

TEST_P(AccessibilityTerminal, CreditsEveryCommandLineAgentWithAMultiWordHit) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.apple.Terminal", "Terminal", pid, GetParam().screen);
    EXPECT_EQ(summary(AccessibilityDetector(platform).detectPerApp(settings())),
              GetParam().expected);
}

const std::map<std::string, std::string> everyAgentInterrupted = {
    {"Aider", "strong: to interrupt"},          {"Claude Code", "strong: esc to interrupt"},
    {"Codex CLI", "strong: esc to interrupt"},  {"Copilot CLI", "strong: esc to interrupt"},
    {"Gemini CLI", "strong: esc to interrupt"}, {"Grok Build", "strong: to interrupt"},
    {"OpenCode", "strong: esc to interrupt"},   {"Pi", "strong: esc to interrupt"},
    {"Qwen Code", "strong: esc to interrupt"},
};

INSTANTIATE_TEST_SUITE_P(
    Screens, AccessibilityTerminal,
    testing::Values(
        TerminalCase{"InterruptHintCreditsAllAgents", "✻ Pondering… (esc to interrupt)",
                     everyAgentInterrupted},
        TerminalCase{"HintInCapitalsOverALineBreak", "ESC TO\nINTERRUPT", everyAgentInterrupted},
        TerminalCase{"SingleWordPhrasesCountForNobody", "Working\nTokens: 12k  tokens", {}},
        TerminalCase{
            "OnlyMultiWordHitsCount",
            "12 tokens used",
            {{"Claude Code", "strong: tokens used"}, {"Codex CLI", "strong: tokens used"}}},
        TerminalCase{"AgentSpecificCancelHints",
                     "⠋ Reading (3s · esc to cancel)",
                     {{"Qwen Code", "strong: · esc to cancel)"}}},
        TerminalCase{"GeminiCancelHintWithComma",
                     "esc to cancel, 3s",
                     {{"Gemini CLI", "strong: esc to cancel,"}}},
        TerminalCase{"PlainShell", "user@host:~$ ls", {}}),
    [](const testing::TestParamInfo<TerminalCase>& param) {
        return std::string(param.param.name);
    });

TEST(AccessibilityDetectPerApp, DisabledAgentsAreNotCreditedFromTerminals) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.googlecode.iterm2", "iTerm2", pid, "esc to interrupt");
    GuardSettings withoutClaude = settings();
    withoutClaude.disabledAgentIDs = {"claude-code", "aider"};

    const auto names = summary(AccessibilityDetector(platform).detectPerApp(withoutClaude));
    EXPECT_EQ(names.size(), everyAgentInterrupted.size() - 2);
    EXPECT_FALSE(names.contains("Claude Code"));
    EXPECT_FALSE(names.contains("Aider"));
    EXPECT_TRUE(names.contains("Codex CLI"));
}

TEST(AccessibilityDetectPerApp, BrowsersCountOnlyWhenEnabled) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.google.Chrome", "Google Chrome", pid, "Claude is working");
    GuardSettings withBrowsers = settings();
    withBrowsers.enableBrowsers = true;
    const AccessibilityDetector detector(platform);

    EXPECT_TRUE(detector.detectPerApp(settings()).empty());
    EXPECT_EQ(summary(detector.detectPerApp(withBrowsers)),
              (std::map<std::string, std::string>{{"Google Chrome", "strong: Claude is working"}}));
}

TEST(AccessibilityDetectPerApp, LegacyTargetsUseTheUsersPhrasesAndTheirOwnName) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("org.example.mytool", "MyTool Desktop.app", 1, "Busy now");
    platform.addApplicationShowing("org.example.helper", "helper", 2, "waiting for you");
    platform.addApplicationShowing(std::nullopt, std::nullopt, 3, "busy now");
    platform.addApplicationShowing("org.example.blank", " Desktop.app ", 4, "busy now");
    GuardSettings withTargets = settings();
    withTargets.targetApps = {"", "   ", "Nothing Here", "mytool", "Helper Suite", "MyTool"};

    EXPECT_EQ(summary(AccessibilityDetector(platform).detectPerApp(withTargets)),
              (std::map<std::string, std::string>{{"mytool", "strong: busy now"},
                                                  {"Helper Suite", "presence: waiting for you"}}));
    EXPECT_FALSE(wasRead(platform, "pid3.content")) << "a nameless app matches no target";
    EXPECT_FALSE(wasRead(platform, "pid4.content")) << "a name that normalises to nothing";
}

TEST(AccessibilityDetectPerApp, KnownAgentsAndTerminalsIgnoreTheUsersPhrases) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.openai.chat", "ChatGPT", 1, "busy now");
    platform.addApplicationShowing("com.apple.terminal", "Terminal", 2, "busy now");
    GuardSettings withTargets = settings();
    withTargets.targetApps = {"ChatGPT", "Terminal"};

    EXPECT_TRUE(AccessibilityDetector(platform).detectPerApp(withTargets).empty());
}

TEST(AccessibilityDetectPerApp, OtherApplicationsAreNeverRead) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.example.mail", "Mail", 1, "esc to interrupt");
    platform.addApplicationShowing("com.openai.chat", "ChatGPT", 2, "");

    EXPECT_TRUE(AccessibilityDetector(platform).detectPerApp(settings()).empty());
    for (const auto& read : platform.reads()) {
        EXPECT_NE(read.elementLabel.substr(0, 4), "pid1") << read.attribute;
    }
}

struct OfferCase {
    const char* name;
    std::vector<std::string> screens;
    std::string expected;
};

void PrintTo(const OfferCase& c, std::ostream* os) {
    *os << c.name;
}

class AccessibilityOffer : public testing::TestWithParam<OfferCase> {};

TEST_P(AccessibilityOffer, KeepsOneSignalPerNameAndOnlyAStrongerOneReplacesIt) {
    FakeAccessibilityPlatform platform;
    int processIdentifier = 100;
    for (const std::string& screen : GetParam().screens) {
        // Both bundle identifiers resolve to the ChatGPT profile.
        platform.addApplicationShowing(processIdentifier % 2 == 0 ? "com.openai.chat"
                                                                  : "com.openai.codex",
                                       "ChatGPT", processIdentifier, screen);
        ++processIdentifier;
    }
    EXPECT_EQ(summary(AccessibilityDetector(platform).detectPerApp(settings())),
              (std::map<std::string, std::string>{{"ChatGPT", GetParam().expected}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, AccessibilityOffer,
                         testing::Values(OfferCase{"StrongReplacesPresence",
                                                   {"Ask anything", "Stop streaming"},
                                                   "strong: Stop streaming"},
                                         OfferCase{"PresenceNeverReplacesStrong",
                                                   {"Stop streaming", "Ask anything"},
                                                   "strong: Stop streaming"},
                                         OfferCase{"EqualStrengthKeepsTheEarlier",
                                                   {"Stop streaming", "Generating"},
                                                   "strong: Stop streaming"},
                                         OfferCase{"NothingOnScreenChangesNothing",
                                                   {"Ask Codex", "", "nothing"},
                                                   "presence: Ask Codex"}),
                         [](const testing::TestParamInfo<OfferCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(AccessibilityDetectPerApp, SwitchedOffOrUntrustedQueriesNoApplication) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.openai.chat", "ChatGPT", pid, "Stop generating");
    const AccessibilityDetector detector(platform);
    GuardSettings switchedOff = settings();
    switchedOff.accessibilityDetectionEnabled = false;

    EXPECT_TRUE(detector.detectPerApp(switchedOff).empty());
    platform.setTrusted(false);
    EXPECT_TRUE(detector.detectPerApp(settings()).empty());
    EXPECT_EQ(platform.listingCount(), 0);
    EXPECT_TRUE(platform.reads().empty());

    platform.setTrusted(true);
    EXPECT_EQ(detector.detectPerApp(settings()).size(), 1U);
}

TEST(AccessibilityDetect, ReturnsTheFirstStrongestSignal) {
    FakeAccessibilityPlatform platform;
    platform.addApplicationShowing("com.anthropic.claudefordesktop", "Claude", 1, "How can I help");
    platform.addApplicationShowing("dev.zed.zed", "Zed", 2, "Generating response");
    platform.addApplicationShowing("com.openai.chat", "ChatGPT", 3, "Stop generating");
    const AccessibilityDetector detector(platform);

    const auto signals = detector.detectPerApp(settings());
    ASSERT_EQ(signals.size(), 3U);
    const ActivitySignal strongest = detector.detect(settings());
    EXPECT_EQ(strongest.strength, SignalStrength::strong);
    const auto firstStrong = std::find_if(signals.begin(), signals.end(), [](const auto& signal) {
        return signal.strength == SignalStrength::strong;
    });
    EXPECT_EQ(strongest, *firstStrong);

    platform.setTrusted(false);
    EXPECT_EQ(detector.detect(settings()), ActivitySignal::none());
}

TEST(AccessibilityPermission, AsksThePlatform) {
    FakeAccessibilityPlatform platform;
    const AccessibilityDetector detector(platform);
    EXPECT_TRUE(detector.isTrusted());
    platform.setTrusted(false);
    EXPECT_FALSE(detector.isTrusted());
    detector.requestPermissionPrompt();
    EXPECT_EQ(platform.promptCount(), 1);
}

} // namespace
