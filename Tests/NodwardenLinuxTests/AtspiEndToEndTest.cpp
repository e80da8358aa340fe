#include <NodwardenLinux/AtspiAccessibilityPlatform.hpp>
#include <NodwardenLinux/LinuxAppIdentity.hpp>

#include <NodwardenCore/detection/AccessibilityDetector.hpp>

#include "Support/ChildProcess.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;
using stayloom::testing::ChildProcess;
using stayloom::testing::TemporaryDirectory;

// Runs under `xvfb-run dbus-run-session` (see Tests/CMakeLists.txt): a real GTK window on a
// virtual display, a private session bus and its accessibility bus.

namespace {

constexpr const char* builderTool = "/usr/bin/gtk-builder-tool";

/// Writes a GTK window showing `label` and a link to the builder tool whose name makes the Linux
/// layer take it for `linkName`; the command that shows the window through the link.
std::vector<std::string> gtkWindow(const TemporaryDirectory& folder, const std::string& linkName,
                                   const std::string& label) {
    const auto ui = folder.write(linkName + ".ui", R"(<?xml version="1.0"?>
<interface>
  <object class="GtkWindow" id="window">
    <property name="title">Agent session</property>
    <property name="visible">True</property>
    <child>
      <object class="GtkLabel">
        <property name="label">)" + label + R"(</property>
        <property name="visible">True</property>
      </object>
    </child>
  </object>
</interface>
)");
    const auto link = folder.path() / linkName;
    std::filesystem::create_symlink(builderTool, link);
    return {link.string(), "preview", ui.string()};
}

std::optional<RunningApplication> waitForApplication(AtspiAccessibilityPlatform& platform,
                                                     pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        for (auto& application : platform.runningApplications()) {
            if (application.processIdentifier == pid) {
                return application;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return std::nullopt;
}

class AtspiEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || !std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            GTEST_SKIP()
                << "needs a display and a session bus (run through xvfb-run dbus-run-session)";
        }
        if (!std::filesystem::exists(builderTool)) {
            GTEST_SKIP() << builderTool << " is not installed";
        }
    }
};

} // namespace

TEST_F(AtspiEndToEnd, TrustFollowsTheAccessibilityBusSwitch) {
    AtspiAccessibilityPlatform platform;
    platform.promptForTrust();
    EXPECT_TRUE(platform.isProcessTrusted());
    // The state is kept between questions; another program turning the switch is heard through
    // the change signal, at the next question.
    auto turn = [](const std::string& value) {
        return std::system(("/usr/bin/busctl --user set-property org.a11y.Bus /org/a11y/bus "
                            "org.a11y.Status IsEnabled b " +
                            value)
                               .c_str());
    };
    ASSERT_EQ(turn("false"), 0);
    EXPECT_FALSE(platform.isProcessTrusted());
    ASSERT_EQ(turn("true"), 0);
    EXPECT_TRUE(platform.isProcessTrusted());
}

TEST_F(AtspiEndToEnd, RealWindowTextBecomesAnAgentSignal) {
    TemporaryDirectory folder;
    // Named like the Linux build of the agent desktop app, showing one of its working phrases.
    const ChildProcess window(gtkWindow(folder, "claude-desktop", "Thinking about your request"));
    ASSERT_GT(window.pid(), 0);

    AtspiAccessibilityPlatform platform;
    platform.promptForTrust();
    const auto application = waitForApplication(platform, window.pid());
    ASSERT_TRUE(application.has_value())
        << "the GTK window never appeared on the accessibility bus";
    EXPECT_EQ(application->bundleIdentifier,
              std::optional<std::string>("com.anthropic.claudefordesktop"));
    EXPECT_EQ(application->localizedName, std::optional<std::string>("Claude"));

    AccessibilityDetector detector(platform);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find("Thinking") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        text = detector.visibleText(window.pid());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_NE(text.find("Thinking about your request"), std::string::npos) << text;
    EXPECT_EQ(detector.windowTitles(window.pid()), std::vector<std::string>{"Agent session"});

    const auto signal = strongestSignal(detector.detectPerApp(GuardSettings::defaults()));
    EXPECT_EQ(signal.strength, SignalStrength::strong);
    EXPECT_EQ(signal.appName, std::optional<std::string>("Claude"));
}

TEST_F(AtspiEndToEnd, TerminalTextCreditsTheCommandLineAgents) {
    TemporaryDirectory folder;
    const ChildProcess window(
        gtkWindow(folder, "gnome-terminal-server", "* Pondering... (esc to interrupt)"));
    ASSERT_GT(window.pid(), 0);

    AtspiAccessibilityPlatform platform;
    platform.promptForTrust();
    const auto application = waitForApplication(platform, window.pid());
    ASSERT_TRUE(application.has_value());
    EXPECT_EQ(application->bundleIdentifier, std::optional<std::string>("org.gnome.terminal"));

    AccessibilityDetector detector(platform, linuxTerminalBundleIDs());
    std::vector<ActivitySignal> signals;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (signals.empty() && std::chrono::steady_clock::now() < deadline) {
        signals = detector.detectPerApp(GuardSettings::defaults());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const auto claude = std::find_if(signals.begin(), signals.end(), [](const auto& signal) {
        return signal.appName == "Claude Code";
    });
    ASSERT_NE(claude, signals.end());
    EXPECT_EQ(claude->strength, SignalStrength::strong);
    EXPECT_TRUE(AccessibilityDetector(platform).detectPerApp(GuardSettings::defaults()).empty())
        << "without the Linux terminal list the window is nobody's";
}

TEST_F(AtspiEndToEnd, ElementsOfAnotherPlatformAreRefused) {
    struct Foreign : AccessibilityElementHandle {};
    AtspiAccessibilityPlatform platform;
    EXPECT_FALSE(platform.copyAttribute(std::make_shared<Foreign>(), AccessibilityAttribute::title)
                     .has_value());
    EXPECT_FALSE(platform.copyAttribute(nullptr, AccessibilityAttribute::children).has_value());
}
