#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace nodwarden;

namespace {

std::vector<std::string> idsOf(const std::vector<AgentProfile>& profiles) {
    std::vector<std::string> ids;
    for (const AgentProfile& profile : profiles) {
        ids.push_back(profile.id);
    }
    return ids;
}

std::string idOrNone(const std::optional<AgentProfile>& profile) {
    return profile ? profile->id : "none";
}

AgentResolver resolverWith(std::vector<std::string> disabledIDs, bool enableBrowsers) {
    GuardSettings settings{.disabledAgentIDs = std::move(disabledIDs),
                           .enableBrowsers = enableBrowsers};
    return AgentResolver::make(settings);
}

/// Records every unmatched-host report; installed for the length of one test.
class AgentResolverHostReports : public ::testing::Test {
protected:
    void SetUp() override {
        AgentResolver::setOnUnmatchedHostBundle(
            [this](const std::string& host, const std::string& binary) {
                const std::lock_guard guard(mutex_);
                reports_.emplace_back(host, binary);
            });
    }
    void TearDown() override { AgentResolver::setOnUnmatchedHostBundle({}); }

    std::vector<std::pair<std::string, std::string>> reports() {
        const std::lock_guard guard(mutex_);
        return reports_;
    }

    const AgentResolver resolver_ = resolverWith({}, true);

private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> reports_;
};

} // namespace

TEST(AgentResolver, MakeDropsDisabledAgentsAndHiddenBrowsersKeepingCatalogOrder) {
    const auto all = idsOf(AgentCatalog::builtin());

    auto catalog = AgentCatalog::builtin();
    std::erase_if(catalog, [](const AgentProfile& profile) {
        return profile.id == "cursor" || profile.kind == AgentProfile::Kind::browser;
    });
    const auto expected = idsOf(catalog);
    const auto watched = resolverWith({"cursor"}, false).profiles;
    EXPECT_EQ(watched.size(), 20u);
    EXPECT_EQ(idsOf(watched), expected);

    // Identifiers are compared exactly, and unknown ones are ignored.
    EXPECT_EQ(idsOf(resolverWith({"CURSOR", "no-such-agent"}, true).profiles), all);
    EXPECT_EQ(resolverWith({}, true).profiles, AgentCatalog::builtin());
}

TEST(AgentResolver, FindsApplicationsByBundleIdentifierIgnoringCase) {
    const auto resolver = resolverWith({}, false);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"COM.MICROSOFT.VSCODE", "vscode"},
        {"com.openai.codex", "chatgpt-desktop"},
        {"Com.Google.Antigravity-IDE", "antigravity"},
        {"com.google.chrome", "none"}, // browsers hidden
        {"com.apple.terminal", "none"},
        {"com.microsoft.vscode.helper", "none"},
        {"", "none"},
    };
    for (const auto& [bundleID, id] : cases) {
        EXPECT_EQ(idOrNone(resolver.profileForBundleID(bundleID)), id) << bundleID;
    }
    EXPECT_EQ(idOrNone(resolverWith({}, true).profileForBundleID("COM.GOOGLE.CHROME")), "chrome");
}

TEST(AgentResolver, EveryCatalogValueResolvesToItsOwnProfile) {
    const auto resolver = resolverWith({}, true);
    for (const AgentProfile& profile : resolver.profiles) {
        for (const auto& bundleID : profile.bundleIDs) {
            EXPECT_EQ(idOrNone(resolver.profileForBundleID(bundleID)), profile.id) << bundleID;
        }
        for (const auto& name : profile.appBundleNames) {
            const std::string path = "/Applications/" + name + ".app/Contents/MacOS/" + name;
            EXPECT_EQ(idOrNone(resolver.profileForCommandPath(path, name)), profile.id) << path;
        }
        for (const auto& name : profile.cliProcessNames) {
            EXPECT_EQ(idOrNone(resolver.profileForCommandPath("/usr/local/bin/" + name, name)),
                      profile.id)
                << name;
        }
        for (const auto& marker : profile.cliPathMarkers) {
            EXPECT_EQ(idOrNone(resolver.profileForCommandPath("/opt" + marker + "run", "run")),
                      profile.id)
                << marker;
        }
    }
}

TEST(AgentResolver, ResolvesCommandLinesByTheFirstDecidingRule) {
    struct Case {
        std::string path;
        std::string arguments;
        std::string id;
    };
    const std::vector<Case> cases = {
        // Path markers, anywhere in the line and in any letter case, come first.
        {"/usr/local/bin/node", "node /opt/agents/claude-code/cli.js", "claude-code"},
        {"/Users/u/.local/share/claude/versions/2.0.14", "claude --resume", "claude-code"},
        {"/OPT/Claude-Code/bin/run", "", "claude-code"},
        {"/Applications/Cursor.app/Contents/Resources/claude-code/cli.js", "", "claude-code"},
        {"/usr/lib/node_modules/@mariozechner/pi-coding-agent/dist/cli.js", "", "pi-coding-agent"},
        // Application bundles: the outermost bundle decides and stops the search.
        {"/Applications/Codex.app/Contents/MacOS/Codex", "", "chatgpt-desktop"},
        {"/Applications/Visual Studio Code.app/Contents/Frameworks/Code Helper (Renderer).app/"
         "Contents/MacOS/Code Helper (Renderer)",
         "Code Helper (Renderer) --type=renderer", "vscode"},
        {"/Applications/cursor.app/Contents/MacOS/Cursor", "", "cursor"},
        {"/Applications/Foo.app/Contents/MacOS/codex", "codex", "none"},
        {"/Applications/Foo.app/Contents/MacOS/Foo", "Foo /usr/local/bin/gemini", "none"},
        {"/Applications/Foo.APP/bin/claude", "claude", "claude-code"}, // ".APP" is no bundle
        {"/Users/u/.app/bin/claude", "claude", "claude-code"},         // nor is a bare ".app"
        // Program names, ignoring case, exact names only.
        {"/Users/u/.local/bin/pi", "pi", "pi-coding-agent"},
        {"/usr/bin/pip", "pip install pi", "none"},
        {"/usr/local/bin/CLAUDE", "CLAUDE", "claude-code"},
        {"opencode", "opencode", "opencode"},
        // Interpreters: the first argument piece that names an agent decides.
        {"/opt/homebrew/bin/node", "node /opt/homebrew/bin/codex exec", "codex-cli"},
        {"/bin/zsh", "node /opt/homebrew/bin/codex exec", "none"},
        {"/usr/bin/node", "node /home/u/.npm-global/bin/gemini", "gemini-cli"},
        {"/usr/bin/python3", "python3 -m aider --model sonnet", "aider"},
        {"/usr/bin/node", "node --title codex /usr/bin/gemini", "codex-cli"},
        {"/usr/local/bin/bun", "bun  /x/QWEN  ", "qwen-code"},
        {"/usr/bin/NODE", "node /usr/bin/copilot", "copilot-cli"},
        {"/usr/bin/node", "node /srv/app/server.js", "none"},
        {"/usr/bin/env", "env node /usr/bin/codex", "none"},
        {"/usr/bin/python3.12", "python3.12 /usr/bin/aider", "none"},
        // Degenerate input resolves to nothing and never fails.
        {"", "", "none"},
        {"/", "/ //", "none"},
        {"/usr/bin/\xFF\xFE", "\xFF claude", "none"},
        {"/usr/local/bin/codex", "codex \xC3\x28 --full-auto", "codex-cli"},
    };
    const auto resolver = resolverWith({}, true);
    for (const auto& c : cases) {
        EXPECT_EQ(idOrNone(resolver.profileForCommandPath(c.path, c.arguments)), c.id)
            << c.path << " | " << c.arguments;
    }
}

TEST(AgentResolver, DisabledAgentsAreNeverResolvedAndLaterProfilesMayWin) {
    const auto resolver = resolverWith({"claude-code", "chatgpt-desktop"}, false);
    EXPECT_FALSE(resolver.profileForCommandPath("/usr/local/bin/node",
                                                "node /opt/agents/claude-code/cli.js"));
    EXPECT_FALSE(resolver.profileForCommandPath("/usr/local/bin/claude", "claude"));
    EXPECT_FALSE(resolver.profileForBundleID("com.openai.codex"));

    // Order decides between profiles that share a value.
    AgentProfile first = AgentCatalog::builtin()[1];
    AgentProfile second = first;
    second.id = "second";
    const AgentResolver ordered({first, second});
    EXPECT_EQ(idOrNone(ordered.profileForCommandPath("/bin/codex", "codex")), first.id);
    EXPECT_EQ(idOrNone(AgentResolver({second, first}).profileForCommandPath("/bin/codex", "")),
              "second");
}

TEST(AgentResolver, TerminalScanProfilesAreTheWatchedCommandLineAgentsInOrder) {
    EXPECT_EQ(idsOf(resolverWith({}, true).terminalScanProfiles()),
              (std::vector<std::string>{"claude-code", "codex-cli", "gemini-cli", "copilot-cli",
                                        "opencode", "grok-build", "aider", "qwen-code",
                                        "pi-coding-agent"}));
    const auto scanned = idsOf(resolverWith({"codex-cli", "cursor"}, false).terminalScanProfiles());
    EXPECT_EQ(scanned.size(), 8u);
    EXPECT_EQ(std::count(scanned.begin(), scanned.end(), "codex-cli"), 0);
}

TEST(AgentResolver, SplitsPathsIntoBundleNamesAndBasenames) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> bundles = {
        {"/Applications/Foo.app/Contents/Helpers/Bar.app/Contents/MacOS/Bar", "Foo"},
        {"Foo.app", "Foo"},
        {"//Applications//My App.app//", "My App"},
        {"/Applications/Foo.APP/x", std::nullopt},
        {"/Applications/.app/x", std::nullopt},
        {"/opt/app/bin", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [path, name] : bundles) {
        EXPECT_EQ(AgentResolver::appBundleName(path), name) << path;
    }
    const std::vector<std::pair<std::string, std::string>> basenames = {
        {"/usr/local/bin/claude", "claude"},
        {"claude", "claude"},
        {"/opt/codex/", "codex"},
        {"a//b//", "b"},
        {"/", "/"},
        {"///", "///"},
        {"", ""},
    };
    for (const auto& [path, base] : basenames) {
        EXPECT_EQ(AgentResolver::basename(path), base) << path;
    }
}

TEST_F(AgentResolverHostReports, ReportsAnUnmatchedHostOnceWhateverItsLetterCase) {
    EXPECT_FALSE(resolver_.profileForCommandPath(
        "/Applications/Other.app/Contents/Resources/bin/claude", "claude --print"));
    EXPECT_FALSE(
        resolver_.profileForCommandPath("/Applications/OTHER.app/Contents/MacOS/codex", "codex"));
    EXPECT_FALSE(resolver_.profileForCommandPath("/Applications/Vendor.app/Contents/MacOS/Vendor",
                                                 "Vendor --helper /opt/tools/GEMINI"));
    // Matched bundles and programs that name no agent are not reported.
    EXPECT_TRUE(resolver_.profileForCommandPath("/Applications/Zed.app/Contents/MacOS/claude", ""));
    EXPECT_FALSE(
        resolver_.profileForCommandPath("/Applications/Plain.app/Contents/MacOS/Plain", "Plain"));

    const std::vector<std::pair<std::string, std::string>> expected = {{"Other", "claude"},
                                                                       {"Vendor", "GEMINI"}};
    EXPECT_EQ(reports(), expected);
}

TEST_F(AgentResolverHostReports, RemembersHostsSeenWhileNoCallbackWasInstalled) {
    AgentResolver::setOnUnmatchedHostBundle({});
    EXPECT_FALSE(AgentResolver::onUnmatchedHostBundle());
    resolver_.profileForCommandPath("/Applications/Quiet.app/bin/aider", "aider");
    SetUp();
    ASSERT_TRUE(AgentResolver::onUnmatchedHostBundle());
    resolver_.profileForCommandPath("/Applications/QUIET.app/bin/aider", "aider");
    resolver_.profileForCommandPath("/Applications/Loud.app/bin/aider", "aider");
    EXPECT_EQ(reports(), (std::vector<std::pair<std::string, std::string>>{{"Loud", "aider"}}));
}

TEST_F(AgentResolverHostReports, CallsTheCallbackOutsideTheLock) {
    std::atomic<bool> sawCallback{false};
    // Reading the callback takes the report lock; this would deadlock if the lock were held.
    AgentResolver::setOnUnmatchedHostBundle([&](const std::string&, const std::string&) {
        sawCallback = static_cast<bool>(AgentResolver::onUnmatchedHostBundle());
    });
    resolver_.profileForCommandPath("/Applications/Reentrant.app/bin/codex", "codex");
    EXPECT_TRUE(sawCallback);
}

TEST_F(AgentResolverHostReports, ConcurrentLookupsReportEachHostExactlyOnce) {
    constexpr int threadCount = 8;
    constexpr int rounds = 200;
    const std::vector<std::string> hosts = {"Racer", "RACER", "racer", "Sprinter", "sPrInTeR"};
    std::latch start(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < rounds; ++i) {
                const std::string& host = hosts[static_cast<size_t>(t + i) % hosts.size()];
                resolver_.profileForCommandPath("/Applications/" + host + ".app/bin/claude",
                                                "claude");
                resolver_.profileForCommandPath("/usr/local/bin/claude", "claude");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::map<std::string, int> perHost;
    for (const auto& [host, binary] : reports()) {
        EXPECT_EQ(binary, "claude");
        std::string lowered = host;
        std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        ++perHost[lowered];
    }
    EXPECT_EQ(perHost, (std::map<std::string, int>{{"racer", 1}, {"sprinter", 1}}));
}

TEST(AgentResolver, PathMarkersOfAnySpellingAreFoundWhereverTheyStart) {
    // Markers are compared without copying them folded; these shapes exercise every branch of
    // that scan, each with a near miss that must not match.
    struct Case {
        std::string marker;
        std::string path;
        std::string arguments;
        bool found;
    };
    const std::vector<Case> cases = {
        {"/Tool-X/", "/opt/TOOL-x/run", "", true},
        {"/Tool-X/", "/opt/tool-x", "", false},                 // the closing "/" is part of it
        {"/tool-x/", "/tool-x/run", "", true},                  // at the very start of the line
        {"/tool-x/", "/usr/bin/node", "node /tool-x/", true},   // at the very end, in the arguments
        {"/tool-x/", "/t/to/too/tool/tool-/tool-x", "", false}, // only partial occurrences
        {"/tool-x/", "/bin/tool-x", "x", false},                // the line's separator is a space
        {"tool-x", "/bin/TOOL-X", "", true},                    // no "/" at all
        {"//", "/usr//bin/x", "", true},                        // nothing but "/"
        {"//", "/usr/bin/x", "", false},
        {"/\xC3\x89T\xC3\x89/", "/srv/\xC3\xA9t\xC3\xA9/run", "", true}, // folded fully
        {"/\xC3\x89T\xC3\x89/", "/srv/ete/run", "", false},
    };
    for (const auto& c : cases) {
        AgentProfile profile;
        profile.id = "marked";
        profile.cliPathMarkers = {c.marker};
        const AgentResolver resolver({profile});
        EXPECT_EQ(resolver.profileForCommandPath(c.path, c.arguments).has_value(), c.found)
            << c.marker << " in " << c.path << " | " << c.arguments;
    }
}

TEST(AgentResolver, FindingACommandLinesProfileHandsBackTheWatchedEntryItself) {
    const auto resolver = resolverWith({}, true);
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"/usr/local/bin/claude", "claude"},
        {"/opt/homebrew/bin/node", "node /opt/homebrew/bin/codex exec"},
        {"/Applications/Zed.app/Contents/MacOS/zed", ""},
        {"/usr/bin/node", "node /srv/app/server.js"},
        {"", ""},
    };
    for (const auto& [path, arguments] : lines) {
        const AgentProfile* found = resolver.findProfileForCommandPath(path, arguments);
        const auto copied = resolver.profileForCommandPath(path, arguments);
        ASSERT_EQ(found != nullptr, copied.has_value()) << path;
        if (found != nullptr) {
            EXPECT_EQ(*found, *copied) << path;
            EXPECT_GE(found, resolver.profiles.data()) << path;
            EXPECT_LT(found, resolver.profiles.data() + resolver.profiles.size()) << path;
        }
    }
}
