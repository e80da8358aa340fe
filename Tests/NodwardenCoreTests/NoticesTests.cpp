#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nodwarden;

namespace {

/// An agent seen only through its window text.
AgentProfile textOnlyAgent(const std::string& name) {
    AgentProfile profile;
    profile.id = name;
    profile.displayName = name;
    profile.kind = AgentProfile::Kind::desktopAI;
    return profile;
}

AgentProfile cpuTrustedAgent(const std::string& name) {
    AgentProfile profile = textOnlyAgent(name);
    profile.kind = AgentProfile::Kind::cli;
    profile.trustsCPUSignal = true;
    return profile;
}

AgentProfile sessionFileAgent(const std::string& name) {
    AgentProfile profile = textOnlyAgent(name);
    profile.sessionActivityGlobs = {".agent/sessions/*.jsonl"};
    return profile;
}

} // namespace

TEST(Legal, OnlyTheExactCurrentVersionCountsAsAccepted) {
    EXPECT_EQ(Legal::currentVersion, "1.6");
    EXPECT_EQ(StoredKeys::acceptedLegalVersion, "Stayloom.acceptedLegalVersion");
    EXPECT_EQ(StoredKeys::acceptedLegalDate, "Stayloom.acceptedLegalVersion.date");
    EXPECT_FALSE(Legal::needsAcceptance(std::string("1.6")));
    for (const std::optional<std::string>& accepted :
         {std::optional<std::string>{}, std::optional<std::string>{""},
          std::optional<std::string>{"1.5"}, std::optional<std::string>{"1.6 "},
          std::optional<std::string>{"1.60"}}) {
        EXPECT_TRUE(Legal::needsAcceptance(accepted)) << accepted.value_or("<none>");
    }
}

TEST(Onboarding, FlowWaitsForTheTermsAndRunsOnce) {
    EXPECT_EQ(StoredKeys::hasCompletedOnboarding, "Stayloom.hasCompletedOnboarding");
    EXPECT_TRUE(Onboarding::needsOnboarding(false, false));
    EXPECT_FALSE(Onboarding::needsOnboarding(false, true));
    EXPECT_FALSE(Onboarding::needsOnboarding(true, false));
    EXPECT_FALSE(Onboarding::needsOnboarding(true, true));
}

TEST(Onboarding, DetectionHeadline) {
    struct Case {
        SignalStrength strength;
        std::optional<std::string> name;
        Onboarding::DetectionHeadline expected;
    };
    const std::vector<Case> cases{
        {SignalStrength::strong, std::nullopt, {"No agents detected yet", false}},
        {SignalStrength::strong, "", {"No agents detected yet", false}},
        {SignalStrength::none, "Codex", {"No agents detected yet", false}},
        {SignalStrength::presence, "Codex", {"Watching \u2014 Codex detected", true}},
        {SignalStrength::weak, "Claude Code", {"Watching \u2014 Claude Code is working", true}},
        {SignalStrength::strong, "Claude Code", {"Watching \u2014 Claude Code is working", true}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(Onboarding::detectionHeadline(testCase.strength, testCase.name),
                  testCase.expected)
            << testCase.expected.text;
    }
}

TEST(AccessibilityNotice, TextOnlyMeansNoCPUTrustAndNoSessionFiles) {
    EXPECT_TRUE(AccessibilityNotice::isUITextOnly(textOnlyAgent("A")));
    EXPECT_FALSE(AccessibilityNotice::isUITextOnly(cpuTrustedAgent("B")));
    EXPECT_FALSE(AccessibilityNotice::isUITextOnly(sessionFileAgent("C")));

    const std::vector<AgentProfile> profiles{textOnlyAgent("Zeta"), cpuTrustedAgent("Beta"),
                                             textOnlyAgent("Alpha"), textOnlyAgent("Zeta")};
    EXPECT_EQ(AccessibilityNotice::uiTextOnlyNames(profiles),
              (std::vector<std::string>{"Zeta", "Alpha", "Zeta"}));
}

TEST(AccessibilityNotice, ShortList) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{}, ""},
        {{"Cursor"}, "Cursor"},
        {{"Cursor", "Zed"}, "Cursor and Zed"},
        {{"Cursor", "Zed", "Arc"}, "Cursor, Zed and Arc"},
        {{"Cursor", "Zed", "Arc", "Comet"}, "Cursor, Zed and 2 more"},
        {{"Cursor", "Zed", "Arc", "Comet", "Safari"}, "Cursor, Zed and 3 more"},
    };
    for (const auto& [names, expected] : cases) {
        EXPECT_EQ(AccessibilityNotice::shortList(names), expected);
    }
    const std::vector<std::string> twelve(12, "X");
    EXPECT_EQ(AccessibilityNotice::shortList(twelve), "X, X and 10 more");
}

TEST(AccessibilityNotice, OnboardingNote) {
    EXPECT_EQ(AccessibilityNotice::onboardingNote({}),
              "Optional: your watched agents are detected without it.");
    EXPECT_EQ(AccessibilityNotice::onboardingNote({cpuTrustedAgent("Codex CLI")}),
              "Optional: your watched agents are detected without it.");
    EXPECT_EQ(AccessibilityNotice::onboardingNote(
                  {cpuTrustedAgent("Codex CLI"), textOnlyAgent("ChatGPT")}),
              "Needed for ChatGPT: without it, their work cannot be seen. Your other agents are "
              "still detected without it.");
    EXPECT_EQ(AccessibilityNotice::onboardingNote({textOnlyAgent("ChatGPT")}),
              "Required for your agents: without it, Stayloom cannot tell when ChatGPT is "
              "working, so it will not keep your Mac awake.");
    EXPECT_EQ(AccessibilityNotice::onboardingNote({textOnlyAgent("ChatGPT"), textOnlyAgent("Zed")}),
              "Required for your agents: without it, Stayloom cannot tell when ChatGPT and Zed "
              "are working, so it will not keep your Mac awake.");
}

TEST(AccessibilityNotice, PanelWarning) {
    EXPECT_EQ(AccessibilityNotice::panelWarning(
                  {textOnlyAgent("ChatGPT"), cpuTrustedAgent("Aider")}, false),
              "Accessibility access is off \u2014 Stayloom cannot tell when ChatGPT is working, so "
              "it will not keep your Mac awake for it.");
    EXPECT_EQ(AccessibilityNotice::panelWarning(
                  {textOnlyAgent("ChatGPT"), textOnlyAgent("Cursor"), textOnlyAgent("Zed")}, false),
              "Accessibility access is off \u2014 Stayloom cannot tell when ChatGPT, Cursor and "
              "Zed are working, so it will not keep your Mac awake for them.");
    EXPECT_EQ(AccessibilityNotice::panelWarning({textOnlyAgent("ChatGPT")}, true), std::nullopt);
    EXPECT_EQ(
        AccessibilityNotice::panelWarning({cpuTrustedAgent("Aider"), sessionFileAgent("X")}, false),
        std::nullopt);
    EXPECT_EQ(AccessibilityNotice::panelWarning({}, false), std::nullopt);
}
