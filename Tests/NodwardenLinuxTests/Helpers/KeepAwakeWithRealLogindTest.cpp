// The sleep controller holding the machine through the real keep-awake helper and the real
// systemd-logind (started by with-real-logind on a private system bus): a lock that logind grants
// is a hold, one it refuses is a failed launch, logged once, and never a hold.

#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include "Support/LoggedMessages.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace nodwarden;
using stayloom::testing::loggedMessages;
using stayloom::testing::TemporaryDirectory;

const std::string inhibitPath = STAYLOOM_INHIBIT_PATH;

class KeepAwakeWithRealLogind : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("STAYLOOM_REAL_LOGIND") == nullptr) {
            GTEST_SKIP() << "LOGIND UNAVAILABLE: run through with-real-logind";
        }
    }

    std::unique_ptr<SleepController> controllerFor(const std::string& program) {
        return std::make_unique<SleepController>(
            runner, runner, logger, program,
            SleepControllerFiles{folder.path() / "caffeinate.pid",
                                 folder.path() / "disablesleep.engaged"},
            SleepCommandSet::macOS(), ProcessControl{}, KeepAwakeContract::linuxHelper(),
            SleepLogWording::linuxHelper());
    }

    /// What `systemd-inhibit --list` prints for the private logind.
    std::string listing() {
        return runner
            .run(ShellCommand{
                "/usr/bin/systemd-inhibit", {"--list", "--no-pager"}, {"DBUS_SYSTEM_BUS_ADDRESS"}})
            .standardOutput;
    }

    /// Waits until the listing says no lock is held; false if one stays.
    bool noLockEventually() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (listing().find("No inhibitors.") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    int linesContaining(const std::string& text) {
        const auto messages = loggedMessages(logger);
        return static_cast<int>(std::count_if(messages.begin(), messages.end(), [&](const auto& m) {
            return m.find(text) != std::string::npos;
        }));
    }

    TemporaryDirectory folder;
    FileLogger logger{folder.path() / "Nodwarden.log"};
    ProcessCommandRunner runner{8};
};

TEST_F(KeepAwakeWithRealLogind, AGrantedLockIsAHoldUntilReleased) {
    auto controller = controllerFor(inhibitPath);
    ASSERT_TRUE(controller->setSleepPrevention(true, false, false));
    ASSERT_TRUE(controller->isSleepPreventionEnabled());
    const auto held = listing();
    EXPECT_NE(held.find("Stayloom"), std::string::npos) << held;
    EXPECT_NE(held.find("sleep:idle"), std::string::npos) << held;
    EXPECT_EQ(linesContaining("Started keep-awake helper pid "), 1);

    // A request each tick while it holds starts nothing new.
    controller->setSleepPrevention(true, false, false);
    EXPECT_EQ(linesContaining("Started keep-awake helper pid "), 1);

    controller->restoreNormalSleep();
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_TRUE(noLockEventually()) << listing();
}

TEST_F(KeepAwakeWithRealLogind, TheReasonFollowsTheModeWithNoMomentWithoutALock) {
    auto controller = controllerFor(inhibitPath);
    controller->setKeepAwakeReason("Manual keep-awake");
    ASSERT_TRUE(controller->setSleepPrevention(true, false, false));
    const auto manual = listing();
    // Who, what and why, as the listing shows them to anyone asking what keeps the machine up.
    EXPECT_NE(manual.find("Stayloom"), std::string::npos) << manual;
    EXPECT_NE(manual.find("stayloom-inhibi"), std::string::npos) << "the command, 15 characters";
    EXPECT_NE(manual.find("sleep:idle"), std::string::npos) << manual;
    EXPECT_NE(manual.find("Manual keep-awake"), std::string::npos) << manual;

    // Listed over and over on another thread while the reason changes back and forth.
    std::atomic<bool> switching{true};
    std::atomic<int> listings{0};
    std::string unheld;
    std::thread watcher([&] {
        ProcessCommandRunner watcherRunner{8};
        while (switching) {
            const auto seen = watcherRunner
                                  .run(ShellCommand{"/usr/bin/systemd-inhibit",
                                                    {"--list", "--no-pager"},
                                                    {"DBUS_SYSTEM_BUS_ADDRESS"}})
                                  .standardOutput;
            ++listings;
            if (seen.find("sleep:idle") == std::string::npos && unheld.empty()) {
                unheld = seen;
            }
        }
    });
    const std::vector<std::string> reasons{"Claude Code is working", "Manual keep-awake",
                                           "Claude Code is working"};
    for (const auto& why : reasons) {
        const int before = listings;
        controller->setKeepAwakeReason(why);
        ASSERT_TRUE(controller->setSleepPrevention(true, false, false));
        while (listings < before + 2) {
            std::this_thread::yield();
        }
    }
    switching = false;
    watcher.join();
    EXPECT_EQ(unheld, "") << "a listing without the lock";

    const auto working = listing();
    EXPECT_NE(working.find("Claude Code is working"), std::string::npos) << working;
    EXPECT_EQ(working.find("Manual keep-awake"), std::string::npos) << working;
    EXPECT_EQ(linesContaining("Retired previous keep-awake helper pid "), 3);
    controller->restoreNormalSleep();
    EXPECT_TRUE(noLockEventually()) << listing();
}

TEST_F(KeepAwakeWithRealLogind, ARefusedLockIsAFailedLaunchLoggedOnceAndNeverAHold) {
    // Without a local session logind asks polkit about the lock, and with none on the bus refuses:
    // the helper, run as an unprivileged user, exits 1 right after it started.
    const auto wrapper = folder.write(
        "bin/stayloom-inhibit", "#!/bin/sh\nexec /usr/bin/setpriv --reuid=65534 --regid=65534 "
                                "--clear-groups '" +
                                    inhibitPath + "' \"$@\"\n");
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all |
                                              std::filesystem::perms::group_read |
                                              std::filesystem::perms::others_read);
    auto controller = controllerFor(wrapper.string());
    for (int tick = 0; tick < 3; ++tick) {
        controller->setSleepPrevention(true, false, tick % 2 == 1);
        EXPECT_FALSE(controller->isSleepPreventionEnabled());
        EXPECT_EQ(controller->appliedLetDisplaySleep(), std::nullopt);
    }
    EXPECT_EQ(linesContaining("Started keep-awake helper pid "), 0);
    EXPECT_EQ(linesContaining("Failed to start keep-awake helper: " + wrapper.string() +
                              " exited with status 1 before holding the machine awake — retrying "
                              "each tick, logging once"),
              1)
        << ::testing::PrintToString(loggedMessages(logger));
    EXPECT_NE(listing().find("No inhibitors."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "caffeinate.pid"));
}

} // namespace
