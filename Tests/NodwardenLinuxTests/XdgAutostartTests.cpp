#include <NodwardenLinux/XdgAutostart.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace nodwarden::linuxplatform;
using stayloom::testing::readFile;
using stayloom::testing::TemporaryDirectory;

TEST(XdgAutostart, EnableWritesAnEntryThatDisableRemoves) {
    TemporaryDirectory home;
    XdgAutostart autostart(home.path() / "config/autostart", {home.path() / "etc/xdg/autostart"},
                           "/opt/Stay loom/bin/Stayloom");
    EXPECT_FALSE(autostart.isEnabled());

    autostart.enable();
    EXPECT_TRUE(autostart.isEnabled());
    const auto text = readFile(autostart.userFile());
    EXPECT_NE(text.find("Exec=\"/opt/Stay loom/bin/Stayloom\"\n"), std::string::npos);
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
    EXPECT_EQ(autostart.userFile().filename(), "org.stayloom.Stayloom.desktop");
    EXPECT_NE(text.find("\nIcon=org.stayloom.Stayloom\n"), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(home.path() /
                                         "config/autostart/.org.stayloom.Stayloom.desktop.tmp"));

    autostart.disable();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(std::filesystem::exists(autostart.userFile()));
    EXPECT_NO_THROW(autostart.disable()) << "disabling twice is harmless";
}

TEST(XdgAutostart, DisableHidesASystemWideCopy) {
    TemporaryDirectory home;
    home.write("etc/xdg/autostart/org.stayloom.Stayloom.desktop",
               "[Desktop Entry]\nType=Application\nExec=/usr/bin/Stayloom\n");
    XdgAutostart autostart(home.path() / "config/autostart", {home.path() / "etc/xdg/autostart"},
                           "/usr/bin/Stayloom");
    EXPECT_TRUE(autostart.isEnabled()) << "the system copy starts it";

    autostart.disable();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_NE(readFile(autostart.userFile()).find("Hidden=true"), std::string::npos);

    autostart.enable();
    EXPECT_TRUE(autostart.isEnabled()) << "the user's file overrides the hidden one";
}

TEST(XdgAutostart, StatusIsReadFromTheFileEveryTime) {
    TemporaryDirectory home;
    XdgAutostart autostart(home.path() / "autostart", {}, "/usr/bin/Stayloom");
    autostart.enable();
    home.write("autostart/org.stayloom.Stayloom.desktop",
               "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(autostart.isEnabled()) << "edited behind our back";
}

TEST(XdgAutostart, UnwritableFolderIsAnErrorNotACrash) {
    TemporaryDirectory home;
    home.write("blocker", "a file where a folder should be\n");
    XdgAutostart autostart(home.path() / "blocker/autostart", {}, "/usr/bin/Stayloom");
    EXPECT_THROW(autostart.enable(), AutostartError);
    EXPECT_FALSE(autostart.isEnabled());
}

TEST(XdgAutostart, AnEarlierVersionsEntryIsReplacedOnceAndOffRemovesIt) {
    TemporaryDirectory home;
    const auto earlier = home.write("autostart/stayloom.desktop",
                                    "[Desktop Entry]\nType=Application\nExec=/usr/bin/stayloom\n"
                                    "Icon=stayloom\nX-GNOME-Autostart-enabled=true\n");
    XdgAutostart autostart(home.path() / "autostart", {}, "/usr/bin/stayloom");
    EXPECT_TRUE(autostart.isEnabled()) << "the earlier entry starts the program";

    EXPECT_TRUE(autostart.replaceEarlierEntry());
    EXPECT_FALSE(std::filesystem::exists(earlier));
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_NE(readFile(autostart.userFile()).find("\nIcon=org.stayloom.Stayloom\n"),
              std::string::npos);
    EXPECT_FALSE(autostart.replaceEarlierEntry()) << "once";

    // Switched off with an earlier entry still there: neither starts the program any more.
    home.write("autostart/stayloom.desktop", "[Desktop Entry]\nExec=/usr/bin/stayloom\n");
    autostart.disable();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(std::filesystem::exists(earlier));

    // A disabled earlier entry is not switched on by being renamed.
    home.write("autostart/stayloom.desktop", "[Desktop Entry]\nHidden=true\n");
    EXPECT_FALSE(autostart.replaceEarlierEntry());
    EXPECT_FALSE(autostart.isEnabled());
}
