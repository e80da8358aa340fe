#include <NodwardenLinux/LinuxAppIdentity.hpp>

#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;

TEST(LinuxAppIdentity, EveryAliasLandsOnAnIdentifierSomebodyKnows) {
    // A typo in an identifier would silently stop an editor or terminal from being watched.
    std::set<std::string> known = AgentCatalog::terminalBundleIDs();
    for (const auto& profile : AgentCatalog::builtin()) {
        known.insert(profile.bundleIDs.begin(), profile.bundleIDs.end());
    }
    known.insert(linuxTerminalBundleIDs().begin(), linuxTerminalBundleIDs().end());
    for (const char* name : {"code",
                             "Code",
                             "cursor",
                             "windsurf",
                             "zed",
                             "zeditor",
                             "dev.zed.Zed.desktop",
                             "kiro",
                             "antigravity",
                             "google-chrome",
                             "claude-desktop",
                             "gnome-terminal-server",
                             "ptyxis",
                             "konsole",
                             "xfce4-terminal",
                             "tilix",
                             "terminator",
                             "kitty",
                             "wezterm-gui",
                             "ghostty",
                             "alacritty",
                             "warp-terminal"}) {
        const auto identity = identityForLinuxName(name);
        ASSERT_TRUE(identity.has_value()) << name;
        EXPECT_TRUE(known.count(identity->bundleIdentifier))
            << name << " → " << identity->bundleIdentifier;
    }
}

TEST(LinuxAppIdentity, LookupIgnoresCaseSpacesAndDesktopSuffixButNotOtherNames) {
    EXPECT_EQ(identityForLinuxName("  Org.Gnome.Terminal.desktop "),
              identityForLinuxName("gnome-terminal"));
    EXPECT_FALSE(identityForLinuxName("bash").has_value());
    EXPECT_FALSE(identityForLinuxName(".desktop").has_value());
    EXPECT_FALSE(identityForLinuxName("").has_value());
}

TEST(LinuxAppIdentity, EveryLinuxBrowserIsFoundByItsExecutableAndItsDesktopId) {
    struct Browser {
        const char* executable;
        const char* desktopID;
        const char* profileID;
    };
    const std::vector<Browser> browsers = {
        {"firefox-esr", "firefox-esr.desktop", "firefox"},
        {"chromium", "chromium.desktop", "chromium"},
        {"google-chrome-stable", "google-chrome.desktop", "chrome"},
        {"brave-browser", "brave-browser.desktop", "brave"},
        {"microsoft-edge", "microsoft-edge.desktop", "edge"},
        {"vivaldi-bin", "vivaldi-stable.desktop", "vivaldi"},
    };
    GuardSettings settings{.enableBrowsers = true};
    const AgentResolver resolver = AgentResolver::make(settings);
    for (const Browser& browser : browsers) {
        for (const char* name : {browser.executable, browser.desktopID}) {
            const auto identity = identityForLinuxName(name);
            ASSERT_TRUE(identity.has_value()) << name;
            const auto profile = resolver.profileForBundleID(identity->bundleIdentifier);
            ASSERT_TRUE(profile.has_value()) << name;
            EXPECT_EQ(profile->id, browser.profileID) << name;
        }
    }

    // Exactly these, in this order; the Mac-only browsers are not offered.
    std::vector<std::string> offered;
    for (const AgentProfile& profile : AgentCatalog::builtin(HostSystem::linux)) {
        if (profile.kind == AgentProfile::Kind::browser) {
            offered.push_back(profile.id);
        }
    }
    std::vector<std::string> expected;
    for (const Browser& browser : browsers) {
        expected.emplace_back(browser.profileID);
    }
    EXPECT_EQ(offered, expected);
}
