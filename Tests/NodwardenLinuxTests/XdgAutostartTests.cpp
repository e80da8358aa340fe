#include <NodwardenLinux/XdgAutostart.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace nodwarden::linuxplatform;
using stayloom::testing::readFile;
using stayloom::testing::TemporaryDirectory;

TEST(XdgAutostartTests, EnableWritesAnEntryThatDisableRemoves) {
    TemporaryDirectory home;
    XdgAutostart autostart(home.path() / "config/autostart", {home.path() / "etc/xdg/autostart"},
                           "/opt/Stay loom/bin/Stayloom");
    EXPECT_FALSE(autostart.isEnabled());

    autostart.enable();
    EXPECT_TRUE(autostart.isEnabled());
    const auto text = readFile(autostart.userFile());
    EXPECT_NE(text.find("Exec=\"/opt/Stay loom/bin/Stayloom\"\n"), std::string::npos);
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(home.path() / "config/autostart/.stayloom.desktop.tmp"));

    autostart.disable();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(std::filesystem::exists(autostart.userFile()));
    EXPECT_NO_THROW(autostart.disable()) << "disabling twice is harmless";
}

TEST(XdgAutostartTests, DisableHidesASystemWideCopy) {
    TemporaryDirectory home;
    home.write("etc/xdg/autostart/stayloom.desktop",
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

TEST(XdgAutostartTests, StatusIsReadFromTheFileEveryTime) {
    TemporaryDirectory home;
    XdgAutostart autostart(home.path() / "autostart", {}, "/usr/bin/Stayloom");
    autostart.enable();
    home.write("autostart/stayloom.desktop", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(autostart.isEnabled()) << "edited behind our back";
}

TEST(XdgAutostartTests, UnwritableFolderIsAnErrorNotACrash) {
    TemporaryDirectory home;
    home.write("blocker", "a file where a folder should be\n");
    XdgAutostart autostart(home.path() / "blocker/autostart", {}, "/usr/bin/Stayloom");
    EXPECT_THROW(autostart.enable(), AutostartError);
    EXPECT_FALSE(autostart.isEnabled());
}
