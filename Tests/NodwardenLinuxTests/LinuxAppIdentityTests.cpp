#include <NodwardenLinux/LinuxAppIdentity.hpp>

#include <NodwardenCore/AgentCatalog.hpp>

#include <gtest/gtest.h>

#include <set>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;

TEST(LinuxAppIdentityTests, EveryAliasLandsOnAnIdentifierSomebodyKnows) {
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

TEST(LinuxAppIdentityTests, LookupIgnoresCaseSpacesAndDesktopSuffixButNotOtherNames) {
    EXPECT_EQ(identityForLinuxName("  Org.Gnome.Terminal.desktop "),
              identityForLinuxName("gnome-terminal"));
    EXPECT_FALSE(identityForLinuxName("bash").has_value());
    EXPECT_FALSE(identityForLinuxName(".desktop").has_value());
    EXPECT_FALSE(identityForLinuxName("").has_value());
}
