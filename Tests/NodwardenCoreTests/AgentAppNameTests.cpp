#include <NodwardenCore/catalog/AgentAppName.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nodwarden;

namespace {

struct Pair {
    std::string input;
    std::string expected;
};

struct MatchCase {
    std::string name;
    std::string target;
    bool matches;
};

} // namespace

TEST(AgentAppName, NormalizesNamesForComparison) {
    const std::vector<Pair> cases = {
        {"Claude Desktop", "claude"},
        {"  Visual Studio Code.app\n", "visual studio code"},
        {"Codex DESKTOP.APP", "codex"},
        {"ÉDITEUR Desktop", "\xC3\xA9"
                            "diteur"},
        {"", ""},
        {" \t ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AgentAppName::normalized(c.input), c.expected) << c.input;
    }
}

TEST(AgentAppName, MatchesNamesAndTargetsLooselyInBothDirections) {
    const std::vector<MatchCase> cases = {
        {"Claude", "Claude Desktop", true},
        {"code", "Visual Studio Code", true},
        {"/usr/bin/ollama", "Ollama", true},
        {"ÉDITEUR",
         "\xC3\xA9"
         "diteur",
         true},
        {"ollama", "llama-server", false},
        {"Claude", "", false},
        {"Claude", " Desktop ", false}, // normalises to nothing
        {"", "Claude", false},
        {".app", "Claude", false}, // an empty normalised name matches nothing
        {"editeur",
         "\xC3\xA9"
         "diteur",
         false}, // accents are not folded away here
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AgentAppName::matches(c.name, c.target), c.matches)
            << "\"" << c.name << "\" vs \"" << c.target << "\"";
    }
}

TEST(AgentAppName, CanonicalNamesFollowTheFirstFittingRule) {
    const std::vector<Pair> cases = {
        {"Google Chrome Helper (Renderer)", "Google Chrome"},
        {"Chromebook", "Chromebook"},
        {"ChatGPT Helper", "ChatGPT"},
        {"ChatGPT Codex", "ChatGPT"}, // chatgpt is tested before codex
        {"Codex", "Codex"},
        {"Code", "Visual Studio Code"},
        {"Code Helper (GPU)", "Visual Studio Code"},
        {"Xcode", "Xcode"},
        {"Search", "Arc"}, // a plain substring test, by intent
        {"Safari Web Content", "Safari"},
        {"iTerm2", "iTerm2"},
        {"Terminal", "Terminal"},
        {"Zed Helper (Renderer)", "Zed"},
        {"  Kiro Helper Helper ", "Kiro"},
        {"Ünïversal Helper", "Ünïversal"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AgentAppName::canonical(c.input), c.expected) << c.input;
    }
}

TEST(AgentAppName, OnlyBrowsersRequireMultiWordPhrasesAndLoseTheCPUSignal) {
    for (const char* browser : {"Google Chrome Helper", "Arc", "Safari", "Firefox", "Browser",
                                "Chromium", "Brave Browser", "Microsoft Edge", "Vivaldi"}) {
        EXPECT_TRUE(AgentAppName::requiresMultiWordPhrases(browser)) << browser;
        EXPECT_FALSE(AgentAppName::canUseCPUSignal(browser)) << browser;
    }
    for (const char* other : {"Claude", "Visual Studio Code", "Zed", "Terminal", "Browsers"}) {
        EXPECT_FALSE(AgentAppName::requiresMultiWordPhrases(other)) << other;
        EXPECT_TRUE(AgentAppName::canUseCPUSignal(other)) << other;
    }
}

TEST(AgentAppName, RecognisesNoisyHelperProcesses) {
    for (const char* noisy :
         {"AuthenticationServicesHelper", "Chrome AutoFill", "chrome_crashpad_handler",
          "Google Chrome Helper (GPU Process)", "Sparkle Downloader", "AutoUpdate", "Updater",
          "Zed Helper (Renderer)"}) {
        EXPECT_TRUE(AgentAppName::isNoisy(noisy)) << noisy;
    }
    for (const char* kept : {"Claude Helper (Renderer)", "Codex Renderer", "ChatGPT RENDERER",
                             "Microsoft AutoUpdate", "updater-helper", "Cursor"}) {
        EXPECT_FALSE(AgentAppName::isNoisy(kept)) << kept;
    }
}

TEST(AgentAppName, CleansReasonsForAgentRows) {
    const std::vector<Pair> cases = {
        {"Target app Zed is running", "Zed running"},
        {"Codex CLI is running", "Codex CLI running"},
        {"Claude Code CPU is above the work threshold", "CPU activity"},
        {"Accessibility text matched \"esc to interrupt\"", "UI text signal"},
        {"ACCESSIBILITY phrase", "UI text signal"},
        {"Target app is present but no active-work signal was found",
         "present but no active-work signal was found"},
        {"  Session files updated \n", "Session files updated"},
        // Only the word "is" goes: names that end in "is" keep their letters.
        {"Target app Tennis is running", "Tennis running"},
        {"This is fine", "This fine"},
        {"Claude IS running", "Claude IS running"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AgentAppName::cleanedReason(c.input), c.expected) << c.input;
    }
}

TEST(AgentAppName, NormalizationTrimsEveryKindOfWhiteSpaceAndKeepsInnerText) {
    const std::vector<Pair> cases = {
        {"\v\f\r Zed \t\n", "zed"},
        {"\x1F"
         "Zed",
         "\x1F"
         "zed"},                                    // a control character is no space
        {"\xC2\xA0Zed\xE2\x80\x83", "zed"},         // no-break and em spaces
        {"\xE2\x80\xA8Zed Desktop\xC2\x85", "zed"}, // line separator, next line
        {"Zed.app.app", "zed"},
        {"Zed .appx", "zed x"},
        {"Zed  desktop desktopx", "zed x"}, // adjacent occurrences
        {"A.ap.appp", "a.app"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AgentAppName::normalized(c.input), c.expected) << c.input;
    }
}

TEST(AgentAppName, MatchingNormalizedFormsAgreesWithMatchingRawNames) {
    const std::vector<MatchCase> cases = {
        {"Code Helper (Renderer)", "Visual Studio Code", false},
        {"code", "Visual Studio Code.app", true},
        {"/Applications/MyTool.app/Contents/MacOS/MyTool", "mytool", true},
        {"Claude", " Desktop ", false},
        {".app", "Claude", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AgentAppName::matchesNormalized(AgentAppName::normalized(c.name),
                                                  AgentAppName::normalized(c.target)),
                  c.matches)
            << c.name << " vs " << c.target;
        EXPECT_EQ(AgentAppName::matches(c.name, c.target), c.matches) << c.name;
    }
}
