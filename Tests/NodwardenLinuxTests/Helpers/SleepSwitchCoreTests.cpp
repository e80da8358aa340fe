// The sleep switch helper as the core drives it: its listing read through the core's parser, and
// the core's engage/restore round trip carried out by the real helper.

#include <NodwardenCore/sleep/SleepCommandSet.hpp>
#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include "Support/LoggedMessages.hpp"
#include "Support/ScopedEnvironmentVariable.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace nodwarden;
using namespace stayloom::testing;

const std::string helperPath = STAYLOOM_SLEEP_SWITCH_PATH;
const std::filesystem::path fakeSystemctl = STAYLOOM_FAKE_SYSTEMCTL_PATH;

const std::vector<std::string> sleepUnits{"sleep.target", "suspend.target", "hibernate.target",
                                          "hybrid-sleep.target", "suspend-then-hibernate.target"};

// Grants every request: the tests exercise the helper, not the password dialog.
constexpr const char* fakeElevator = "#!/bin/sh\nexec \"$@\"\n";

/// A controller whose sleep switch is the real helper behind `elevator`, with its own log and
/// state files.
struct ControllerOverHelper {
    explicit ControllerOverHelper(const std::filesystem::path& elevator)
        : controller(runner, runner, logger, "/nonexistent/caffeinate",
                     SleepControllerFiles{state.path() / "caffeinate.pid", marker()},
                     SleepCommandSet::privilegedHelper(elevator.string(), helperPath),
                     nodwarden::ProcessControl{}, nodwarden::KeepAwakeContract{},
                     SleepLogWording::linuxHelper()) {}

    std::filesystem::path marker() const { return state.path() / "disablesleep.engaged"; }

    TemporaryDirectory state;
    FileLogger logger{state.path() / "Nodwarden.log"};
    ProcessCommandRunner runner{8};
    SleepController controller;
};

class SleepSwitchWithCore : public ::testing::Test {
protected:
    std::filesystem::path executable(const std::string& name, const std::string& script) {
        const auto path = folder_.write("bin/" + name, script);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    void link(const std::string& where, const std::string& unit, const std::string& target) {
        const auto dir = root_ / where / "systemd/system";
        std::filesystem::create_directories(dir);
        std::filesystem::create_symlink(target, dir / unit);
    }

    /// The switch's record of the masks it made.
    void record(const std::vector<std::string>& units) {
        std::string text;
        for (const auto& unit : units) {
            text += unit + "\n";
        }
        folder_.write("root/run/stayloom/sleep-switch-masks", text);
    }

    std::string status() {
        return ProcessCommandRunner(8)
            .run(ShellCommand{helperPath, {"status"}, SleepCommandSet::helperVariables()})
            .standardOutput;
    }

    TemporaryDirectory folder_;
    std::filesystem::path root_ = folder_.path() / "root";
    std::filesystem::path fakeSystemctl_ = executable("systemctl", readFile(fakeSystemctl));
    std::filesystem::path fakeElevator_ = executable("pkexec", fakeElevator);
    ScopedEnvironmentVariable unitRoot_{"STAYLOOM_UNIT_ROOT", root_.string()};
    ScopedEnvironmentVariable path_{"PATH", (folder_.path() / "bin").string() + ":/usr/bin:/bin"};
};

TEST_F(SleepSwitchWithCore, StatusListingReadsAsTheCoreExpects) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> links; // folder, unit, target
        std::vector<std::string> recorded;
        bool disabled;
    };
    const std::vector<Case> cases{
        {"nothing masked", {}, {}, false},
        {"its own runtime mask",
         {{"run", "suspend.target", "/dev/null"}},
         {"suspend.target"},
         true},
        {"someone else's runtime mask", {{"run", "suspend.target", "/dev/null"}}, {}, false},
        {"an administrator's persistent mask",
         {{"etc", "hybrid-sleep.target", "/dev/null"}},
         {},
         false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        std::filesystem::remove_all(root_);
        for (const auto& entry : testCase.links) {
            link(entry[0], entry[1], entry[2]);
        }
        if (!testCase.recorded.empty()) {
            record(testCase.recorded);
        }
        EXPECT_EQ(SleepController::parseSleepDisabled(status()), testCase.disabled);
    }
}

TEST_F(SleepSwitchWithCore, CoreEngagesAndRestoresThroughTheHelper) {
    ControllerOverHelper harness(fakeElevator_);
    auto& controller = harness.controller;

    EXPECT_EQ(controller.sleepSwitchState(), SleepSwitchState::sleepEnabled);

    ASSERT_TRUE(controller.engageLidClosedProtection());
    EXPECT_EQ(controller.sleepSwitchState(), SleepSwitchState::sleepDisabled);
    for (const auto& unit : sleepUnits) {
        EXPECT_EQ(std::filesystem::read_symlink(root_ / "run/systemd/system" / unit), "/dev/null")
            << unit;
    }
    EXPECT_TRUE(std::filesystem::exists(harness.marker()));

    ASSERT_TRUE(controller.disengageSleepSwitch());
    EXPECT_EQ(controller.sleepSwitchState(), SleepSwitchState::sleepEnabled);
    EXPECT_TRUE(std::filesystem::is_empty(root_ / "run/systemd/system"));
    EXPECT_FALSE(std::filesystem::exists(harness.marker()));
}

TEST_F(SleepSwitchWithCore, ADismissedDeniedOrMissingElevatorLeavesSleepOn) {
    // pkexec exits 126 when the dialog is dismissed and 127 when authorisation is refused.
    const std::vector<std::pair<std::string, std::filesystem::path>> elevators{
        {"dismissed", executable("dismissing-pkexec", "#!/bin/sh\nexit 126\n")},
        {"denied", executable("denying-pkexec", "#!/bin/sh\nexit 127\n")},
        {"missing", folder_.path() / "bin/no-such-pkexec"},
    };
    for (const auto& [name, elevator] : elevators) {
        SCOPED_TRACE(name);
        ControllerOverHelper harness(elevator);
        auto& controller = harness.controller;

        EXPECT_FALSE(controller.engageLidClosedProtection());
        EXPECT_FALSE(controller.isLidClosedProtectionEngaged());
        EXPECT_EQ(controller.sleepSwitchState(), SleepSwitchState::sleepEnabled);
        EXPECT_FALSE(std::filesystem::exists(harness.marker()));
    }
}

TEST_F(SleepSwitchWithCore, ARestoreThatLeavesAMaskIsNotReportedAsRestored) {
    // systemctl reports success but leaves the switch's own masks: the core must hear that sleep
    // is still off and keep the switch tracked.
    ControllerOverHelper harness(fakeElevator_);
    auto& controller = harness.controller;
    ASSERT_TRUE(controller.engageLidClosedProtection());

    folder_.write("bin/systemctl.settings", "FAKE_SYSTEMCTL_IGNORE=1\n");
    EXPECT_FALSE(controller.disengageSleepSwitch());
    EXPECT_TRUE(controller.isLidClosedProtectionEngaged());
    EXPECT_TRUE(std::filesystem::exists(harness.marker()));
    const auto messages = loggedMessages(harness.logger);
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
        return message.find("may still be off") != std::string::npos;
    }));
}

TEST_F(SleepSwitchWithCore, AnAdministratorsOwnMaskNeverReadsAsAStuckSwitch) {
    // hibernate.target masked by an administrator, and a marker from an earlier run: the launch
    // repair finds the switch on already and asks for no password, and the mask stays.
    link("etc", "hibernate.target", "/dev/null");
    ControllerOverHelper harness(
        executable("refusing-pkexec", "#!/bin/sh\necho asked >> \"$0.log\"\nexit 127\n"));
    harness.controller.adoptSleepSwitchEngaged();
    SleepController& controller = harness.controller;
    EXPECT_EQ(controller.sleepSwitchState(), SleepSwitchState::sleepEnabled);

    EXPECT_TRUE(controller.reconcileStuckSleepSwitch());
    EXPECT_FALSE(std::filesystem::exists(harness.marker()));
    EXPECT_FALSE(std::filesystem::exists(folder_.path() / "bin/refusing-pkexec.log"));
    EXPECT_EQ(std::filesystem::read_symlink(root_ / "etc/systemd/system/hibernate.target"),
              "/dev/null");
    const auto messages = loggedMessages(harness.logger);
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
        return message.find("Stale sleep switch marker found") != std::string::npos;
    }));
}

} // namespace
