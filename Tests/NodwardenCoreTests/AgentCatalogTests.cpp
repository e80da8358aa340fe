#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

using namespace nodwarden;

namespace {

const AgentProfile& profileWithID(const std::vector<AgentProfile>& profiles,
                                  const std::string& id) {
    const auto found = std::find_if(profiles.begin(), profiles.end(),
                                    [&](const AgentProfile& p) { return p.id == id; });
    if (found == profiles.end()) {
        throw std::runtime_error("no profile " + id);
    }
    return *found;
}

/// Fails for every folded value that more than one profile claims in the field `field` names:
/// the later profile could never win a first-match lookup for it.
template <typename Field>
void expectNoValueSharedBetweenProfiles(const std::vector<AgentProfile>& profiles, Field field,
                                        const char* fieldName) {
    std::map<std::string, std::string> owner;
    for (const AgentProfile& profile : profiles) {
        for (const std::string& value : profile.*field) {
            const auto [it, inserted] = owner.emplace(UnicodeText::foldCase(value), profile.id);
            if (!inserted && it->second != profile.id) {
                ADD_FAILURE() << fieldName << " \"" << value << "\" is claimed by " << it->second
                              << " and " << profile.id;
            }
        }
    }
}

bool isRelativePattern(const std::string& pattern) {
    return !pattern.empty() && pattern.front() != '/' && pattern.front() != '~' &&
           pattern.find("//") == std::string::npos && pattern.back() != '/';
}

} // namespace

TEST(AgentCatalog, HasEachSystemsProfilesWithUniqueWellFormedIdentitiesInPriorityOrder) {
    // Twenty-one agents, then each system's own browsers.
    for (const auto& [host, count] :
         {std::pair{HostSystem::macOS, 25u}, std::pair{HostSystem::linux, 27u}}) {
        const auto profiles = AgentCatalog::builtin(host);
        ASSERT_EQ(profiles.size(), count);
        std::set<std::string> ids;
        std::set<std::string> names;
        for (const AgentProfile& profile : profiles) {
            EXPECT_TRUE(ids.insert(profile.id).second) << "duplicate id " << profile.id;
            EXPECT_TRUE(names.insert(profile.displayName).second) << profile.displayName;
            EXPECT_FALSE(profile.id.empty());
            EXPECT_TRUE(std::all_of(profile.id.begin(), profile.id.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
            })) << profile.id;
        }
        // Command-line agents come first so that a command line is never credited to an application
        // first; browsers come last.
        EXPECT_EQ(profiles.front().id, "claude-code");
        const auto firstNonCLI = std::find_if(profiles.begin(), profiles.end(), [](const auto& p) {
            return p.kind != AgentProfile::Kind::cli;
        });
        EXPECT_EQ(firstNonCLI - profiles.begin(), 9);
        EXPECT_TRUE(std::all_of(firstNonCLI, profiles.end(),
                                [](const auto& p) { return p.kind != AgentProfile::Kind::cli; }));
        EXPECT_TRUE(std::is_partitioned(profiles.begin(), profiles.end(), [](const auto& p) {
            return p.kind != AgentProfile::Kind::browser;
        }));
        EXPECT_EQ(
            std::count_if(profiles.begin(), profiles.end(),
                          [](const auto& p) { return p.kind == AgentProfile::Kind::browser; }),
            count - 21);
    }
    EXPECT_EQ(AgentCatalog::builtin(), AgentCatalog::builtin(AgentCatalog::currentHostSystem()));
}

TEST(AgentCatalog, BuildsAnEqualIndependentListOnEveryCall) {
    auto first = AgentCatalog::builtin();
    const auto second = AgentCatalog::builtin();
    EXPECT_EQ(first, second);
    first.front().cliProcessNames.clear();
    EXPECT_EQ(AgentCatalog::builtin(), second);
    EXPECT_NE(first, second);
}

TEST(AgentCatalog, EvidenceFlagsAndRecognitionFieldsFitEachKind) {
    for (const AgentProfile& p : AgentCatalog::builtin()) {
        SCOPED_TRACE(p.id);
        const bool isCLI = p.kind == AgentProfile::Kind::cli;
        EXPECT_EQ(p.trustsCPUSignal, isCLI);
        EXPECT_EQ(p.scanTerminalText, isCLI);
        EXPECT_EQ(p.requireMultiWordPhrases,
                  p.kind == AgentProfile::Kind::editor || p.kind == AgentProfile::Kind::browser);
        EXPECT_EQ(p.bundleIDs.empty(), isCLI);
        EXPECT_EQ(p.appBundleNames.empty(), isCLI);
        EXPECT_EQ(p.cliProcessNames.empty(), !isCLI);
        for (const std::string& bundleID : p.bundleIDs) {
            EXPECT_EQ(bundleID, UnicodeText::foldCase(bundleID));
        }
    }
}

TEST(AgentCatalog, NoRecognitionValueIsShadowedByAnEarlierProfile) {
    const auto profiles = AgentCatalog::builtin();
    expectNoValueSharedBetweenProfiles(profiles, &AgentProfile::bundleIDs, "bundle identifier");
    expectNoValueSharedBetweenProfiles(profiles, &AgentProfile::appBundleNames, "bundle name");
    expectNoValueSharedBetweenProfiles(profiles, &AgentProfile::cliProcessNames, "program name");
    expectNoValueSharedBetweenProfiles(profiles, &AgentProfile::cliPathMarkers, "path marker");
}

TEST(AgentCatalog, PhrasesAreUsableByTheTextMatcher) {
    for (const AgentProfile& p : AgentCatalog::builtin()) {
        SCOPED_TRACE(p.id);
        for (const auto* list : {&p.activePhrases, &p.idlePhrases}) {
            for (const std::string& phrase : *list) {
                EXPECT_FALSE(UnicodeText::trimmed(phrase).empty()) << "would match any text";
                EXPECT_TRUE(UnicodeText::isValidUTF8(phrase)) << phrase;
                if (p.requireMultiWordPhrases) {
                    EXPECT_NE(phrase.find(' '), std::string::npos) << "never counts: " << phrase;
                }
            }
        }
    }
    const auto profiles = AgentCatalog::builtin();
    const std::string& qwenActive = profileWithID(profiles, "qwen-code").activePhrases.front();
    EXPECT_EQ(qwenActive.size(), 17u);
    EXPECT_EQ(qwenActive.substr(0, 3), "\xC2\xB7 ");
    EXPECT_EQ(profileWithID(profiles, "gemini-cli").activePhrases.front().back(), ',');
}

TEST(AgentCatalog, SessionPatternsAndBorrowedValuesPointWhereTheyShould) {
    const auto profiles = AgentCatalog::builtin();
    for (const AgentProfile& p : profiles) {
        for (const auto* list : {&p.sessionActivityGlobs, &p.sessionCountGlobs}) {
            for (const std::string& pattern : *list) {
                EXPECT_TRUE(isRelativePattern(pattern)) << p.id << ": " << pattern;
            }
        }
        if (p.sessionActivityGlobs.empty()) {
            EXPECT_FALSE(p.sessionGlobsSharedWithOtherApps) << p.id;
        }
    }
    const std::string rollouts = ".codex/sessions/**/rollout-*.jsonl";
    const AgentProfile& codexCLI = profileWithID(profiles, "codex-cli");
    const AgentProfile& chatGPT = profileWithID(profiles, "chatgpt-desktop");
    EXPECT_EQ(codexCLI.sessionCountGlobs, std::vector<std::string>{rollouts});
    EXPECT_EQ(chatGPT.sessionActivityGlobs, std::vector<std::string>{rollouts});
    EXPECT_TRUE(chatGPT.sessionCountGlobs.empty());
    EXPECT_TRUE(codexCLI.bundleIDs.empty());
    EXPECT_NE(std::find(chatGPT.bundleIDs.begin(), chatGPT.bundleIDs.end(), "com.openai.codex"),
              chatGPT.bundleIDs.end());

    // Only Claude Code borrows an icon, and it is that of the catalog's desktop application.
    EXPECT_EQ(std::count_if(profiles.begin(), profiles.end(),
                            [](const auto& p) { return p.iconBundleID.has_value(); }),
              1);
    EXPECT_EQ(profileWithID(profiles, "claude-code").iconBundleID,
              profileWithID(profiles, "claude-desktop").bundleIDs.front());
}

TEST(AgentCatalog, CommandLineAgentNamesAreTheNineCLIDisplayNames) {
    const auto names = AgentCatalog::cliAgentNames();
    EXPECT_EQ(names.size(), 9u);
    EXPECT_TRUE(names.count("Pi"));
    EXPECT_FALSE(names.count("Claude"));
    EXPECT_FALSE(names.count("Qwen Code Desktop"));
}

TEST(AgentCatalog, TerminalIdentifiersAreLowerCaseAndNeverAgentApplications) {
    const auto& terminals = AgentCatalog::terminalBundleIDs();
    EXPECT_EQ(terminals.size(), 9u);
    EXPECT_EQ(&terminals, &AgentCatalog::terminalBundleIDs());
    for (const std::string& id : terminals) {
        EXPECT_EQ(id, UnicodeText::foldCase(id));
    }
    for (const AgentProfile& p : AgentCatalog::builtin()) {
        for (const std::string& bundleID : p.bundleIDs) {
            EXPECT_FALSE(terminals.count(UnicodeText::foldCase(bundleID))) << bundleID;
        }
    }
}

TEST(AgentCatalog, KindRawValuesRoundTripAndRejectOtherSpellings) {
    for (const auto kind : {AgentProfile::Kind::desktopAI, AgentProfile::Kind::editor,
                            AgentProfile::Kind::browser, AgentProfile::Kind::cli}) {
        EXPECT_EQ(agentKindFromRawValue(rawValue(kind)), kind);
    }
    for (const char* wrong : {"desktopai", "DesktopAI", "desktop", "CLI", "", "cli "}) {
        EXPECT_FALSE(agentKindFromRawValue(wrong).has_value()) << wrong;
    }
}
