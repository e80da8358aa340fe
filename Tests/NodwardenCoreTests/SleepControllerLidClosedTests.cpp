#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include "Support/FakeKeepAwakeProgram.hpp"
#include "Support/LoggedMessages.hpp"
#include "Support/ScriptedCommandRunner.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace nodwarden;
using namespace stayloom::testing;

using Messages = std::vector<std::string>;
using Commands = std::vector<ShellCommand>;

const SleepCommandSet mac = SleepCommandSet::macOS();
const CommandResult succeeded{0, "", ""};
const CommandResult declined{1, "", "execution error: User canceled. (-128)\n"};
const CommandResult failedDirectly{1, "", "pmset: must be run as root\n"};

CommandResult printed(const std::string& output) {
    return CommandResult{0, output, ""};
}

std::string textOf(const CommandResult& failure) {
    return CommandRunnerError::nonZeroExit(failure).what();
}

/// A settings listing shaped like the power tool's, with the given "SleepDisabled" value.
std::string listing(const std::string& sleepDisabled) {
    return "System-wide power settings:\n SleepDisabled\t\t" + sleepDisabled +
           "\nCurrently in use:\n standby              1\n sleep                1\n";
}

const std::string restoring = "Restoring pmset disablesleep 0";
const std::string warning = "WARNING: pmset disablesleep may still be engaged after the restore "
                            "attempt — keeping it tracked for retry (REVIEW #18)";

/// A controller over scripted runners, a fake keep-awake tool and files in a fresh folder.
struct Rig {
    explicit Rig(SleepCommandSet commands = SleepCommandSet::macOS(),
                 const SleepLogWording& wording = SleepLogWording::macOS())
        : controller(runner, adminRunner, logger, fake.path().string(), files, std::move(commands),
                     nodwarden::ProcessControl{}, nodwarden::KeepAwakeContract{}, wording) {}

    bool markerExists() const { return std::filesystem::exists(files.engagedMarkerPath); }
    Messages messages() { return loggedMessages(logger); }

    TemporaryDirectory folder;
    FileLogger logger{folder.path() / "Logs" / "Nodwarden.log"};
    ScriptedCommandRunner runner;
    ScriptedCommandRunner adminRunner;
    SleepControllerFiles files{folder.path() / "Support" / "caffeinate.pid",
                               folder.path() / "Support" / "disablesleep.engaged"};
    FakeKeepAwakeProgram fake{folder.path() / "bin", "caffeinate"};
    SleepController controller;
};

TEST(SleepControllerLidClosed, EngagesOnceWithTheMarkerAndRestoresWhenHoldEnds) {
    Rig rig;
    rig.adminRunner.setStanding(mac.engage, succeeded);
    rig.adminRunner.setStanding(mac.adminRestore, succeeded);
    auto& sleep = rig.controller;

    EXPECT_TRUE(sleep.setSleepPrevention(true, true, false));
    EXPECT_TRUE(sleep.isLidClosedProtectionEngaged());
    EXPECT_TRUE(rig.markerExists());
    EXPECT_EQ(std::filesystem::file_size(rig.files.engagedMarkerPath), 0u);
    EXPECT_TRUE(sleep.setSleepPrevention(true, true, false));
    // Enabling without lid-closed operation leaves the engaged switch alone.
    EXPECT_TRUE(sleep.setSleepPrevention(true, false, false));
    EXPECT_TRUE(sleep.isLidClosedProtectionEngaged());
    EXPECT_EQ(rig.adminRunner.commands(), Commands{mac.engage});

    EXPECT_TRUE(sleep.setSleepPrevention(false, true, false));
    EXPECT_FALSE(sleep.isLidClosedProtectionEngaged());
    EXPECT_FALSE(sleep.isSleepPreventionEnabled());
    EXPECT_FALSE(rig.markerExists());
    EXPECT_EQ(rig.adminRunner.commands(), (Commands{mac.engage, mac.adminRestore}));
    EXPECT_TRUE(rig.runner.commands().empty());
    const auto messages = rig.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1], "Engaging pmset disablesleep for lid-closed mode");
    EXPECT_EQ(messages[3], restoring);
}

TEST(SleepControllerLidClosed, DeclinedEngageKeepsTheKeepAwakeChild) {
    Rig rig;
    rig.adminRunner.enqueue(mac.engage, declined);
    auto& sleep = rig.controller;

    EXPECT_FALSE(sleep.setSleepPrevention(true, true, true));
    EXPECT_FALSE(sleep.isLidClosedProtectionEngaged());
    EXPECT_FALSE(rig.markerExists());
    EXPECT_TRUE(sleep.isSleepPreventionEnabled());
    EXPECT_EQ(sleep.appliedLetDisplaySleep(), true);
    const auto messages = rig.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], "Engaging pmset disablesleep for lid-closed mode");
    EXPECT_EQ(messages[2],
              "Lid-closed admin step declined; continuing in lid-open (caffeinate) mode: " +
                  textOf(declined));

    // Nothing was engaged, so ending the hold asks for no restore.
    EXPECT_TRUE(sleep.setSleepPrevention(false, true, true));
    EXPECT_EQ(rig.adminRunner.commands(), Commands{mac.engage});
}

TEST(SleepControllerLidClosed, RestoreFallsBackToTheDirectCommandAndTheStateRead) {
    struct Case {
        std::string name;
        CommandResult adminRestore;
        CommandResult directRestore;
        CommandResult readState;
        bool restored;
    };
    const std::vector<Case> cases{
        {"admin succeeds", succeeded, succeeded, printed(listing("1")), true},
        {"direct restores", declined, succeeded, printed(listing("0")), true},
        {"still disabled", declined, failedDirectly, printed(listing("1")), false},
        {"empty listing", declined, succeeded, printed(" \n\t\n"), false},
        {"listing fails", declined, succeeded, failedDirectly, false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        Rig rig;
        rig.adminRunner.enqueue(mac.engage, succeeded);
        rig.adminRunner.enqueue(mac.adminRestore, testCase.adminRestore);
        rig.runner.enqueue(mac.directRestore, testCase.directRestore);
        rig.runner.enqueue(mac.readState, testCase.readState);
        ASSERT_TRUE(rig.controller.engageLidClosedProtection());

        EXPECT_EQ(rig.controller.restoreNormalSleep(), testCase.restored);
        EXPECT_EQ(rig.controller.isLidClosedProtectionEngaged(), !testCase.restored);
        EXPECT_EQ(rig.markerExists(), !testCase.restored);
        const bool adminFailed = !testCase.adminRestore.succeeded();
        EXPECT_EQ(rig.runner.commands(),
                  adminFailed ? (Commands{mac.directRestore, mac.readState}) : Commands{});
        Messages expected{"Engaging pmset disablesleep for lid-closed mode", restoring};
        if (adminFailed) {
            expected.push_back("Admin restore failed, trying direct restore: " +
                               textOf(testCase.adminRestore));
        }
        if (!testCase.restored) {
            expected.push_back(warning);
        }
        EXPECT_EQ(rig.messages(), expected);
    }
}

TEST(SleepControllerLidClosed, FailedRestoreIsRetriedByTheNextRestore) {
    Rig rig;
    rig.adminRunner.enqueue(mac.engage, succeeded);
    rig.adminRunner.enqueue(mac.adminRestore, declined);
    rig.adminRunner.enqueue(mac.adminRestore, succeeded);
    rig.runner.setStanding(mac.directRestore, failedDirectly);
    rig.runner.setStanding(mac.readState, printed(listing("1")));
    auto& sleep = rig.controller;
    ASSERT_TRUE(sleep.engageLidClosedProtection());

    EXPECT_FALSE(sleep.restoreNormalSleep());
    EXPECT_TRUE(sleep.isLidClosedProtectionEngaged());
    EXPECT_TRUE(rig.markerExists());

    EXPECT_TRUE(sleep.setSleepPrevention(false, false, false));
    EXPECT_FALSE(sleep.isLidClosedProtectionEngaged());
    EXPECT_FALSE(rig.markerExists());
    EXPECT_EQ(rig.adminRunner.count(mac.adminRestore), 2u);
    EXPECT_EQ(rig.runner.count(mac.directRestore), 1u);
}

TEST(SleepControllerLidClosed, LaunchRepairFollowsTheMarkerAndTheReportedState) {
    struct Case {
        std::string name;
        bool marker;
        CommandResult readState;
        CommandResult adminRestore;
        bool result;
        Messages messages;
    };
    const std::string stuck = "disablesleep marker from a previous run found — clearing stuck "
                              "pmset disablesleep (REVIEW #2)";
    const std::string stale =
        "Stale disablesleep marker found (system reports sleep enabled) — removing it";
    const std::string adminFailed =
        "Admin restore failed, trying direct restore: " + textOf(declined);
    const std::vector<Case> cases{
        {"no marker", false, printed(listing("1")), succeeded, true, {}},
        {"stale marker", true, printed(listing("0")), succeeded, true, {stale}},
        {"unknown state", true, failedDirectly, succeeded, true, {stuck, restoring}},
        {"still stuck",
         true,
         printed(listing("1")),
         declined,
         false,
         {stuck, restoring, adminFailed, warning}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        Rig rig;
        if (testCase.marker) {
            rig.folder.write("Support/disablesleep.engaged", "");
        }
        rig.runner.setStanding(mac.readState, testCase.readState);
        rig.runner.setStanding(mac.directRestore, failedDirectly);
        rig.adminRunner.setStanding(mac.adminRestore, testCase.adminRestore);

        EXPECT_EQ(rig.controller.reconcileStuckSleepSwitch(), testCase.result);
        const bool prompted = testCase.messages.size() > 1;
        EXPECT_EQ(rig.adminRunner.count(mac.adminRestore), prompted ? 1u : 0u);
        EXPECT_EQ(rig.markerExists(), !testCase.result);
        EXPECT_EQ(rig.controller.isLidClosedProtectionEngaged(), !testCase.result);
        EXPECT_EQ(rig.messages(), testCase.messages);
    }
}

TEST(SleepControllerLidClosed, LinuxWordingNamesTheHelperAndTheSwitchNeverTheMacTools) {
    Rig rig(mac, SleepLogWording::linuxHelper());
    const CommandResult refused{1, "", "refused\n"};
    rig.runner.setStanding(mac.readState, printed(listing("1")));
    rig.runner.setStanding(mac.directRestore, refused);
    rig.runner.setStanding(mac.sleepNow, refused);
    rig.adminRunner.setStanding(mac.engage, refused);
    rig.adminRunner.setStanding(mac.adminRestore, refused);

    rig.controller.setSleepPrevention(true, true, false);
    rig.controller.setSleepPrevention(false, false, false);
    rig.folder.write("Support/disablesleep.engaged", "");
    EXPECT_FALSE(rig.controller.reconcileStuckSleepSwitch());
    rig.controller.sleepNow();

    const Messages messages = rig.messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "Turning the sleep switch off for lid-closed mode"),
              messages.end());
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const std::string& line) {
                                return line.rfind("Started keep-awake helper pid ", 0) == 0;
                            }),
              1);
    for (const std::string& line : messages) {
        for (const char* macWord : {"caffeinate", "pmset", "disablesleep", "sleepnow", "REVIEW"}) {
            EXPECT_EQ(line.find(macWord), std::string::npos) << line;
        }
    }
}

TEST(SleepControllerLidClosed, EmergencyRestorePromptsEvenWhenNothingWasEngaged) {
    Rig rig;
    rig.adminRunner.setStanding(mac.adminRestore, succeeded);
    auto& sleep = rig.controller;
    ASSERT_TRUE(sleep.enableSleepPrevention(false, false));
    const auto started = rig.messages();
    ASSERT_EQ(started.size(), 1u);
    const auto pid = started[0].substr(std::string("Started caffeinate pid ").size());

    sleep.emergencyRestore();
    EXPECT_FALSE(sleep.isSleepPreventionEnabled());
    EXPECT_EQ(sleep.appliedLetDisplaySleep(), std::nullopt);
    EXPECT_FALSE(sleep.isLidClosedProtectionEngaged());
    EXPECT_EQ(rig.adminRunner.commands(), Commands{mac.adminRestore});
    EXPECT_EQ(rig.messages(), (Messages{started[0], "Emergency restore requested",
                                        "Stopped caffeinate pid " + pid, restoring}));
}

TEST(SleepControllerLidClosed, AdoptedSwitchIsRestoredLikeAnEngagedOne) {
    Rig rig;
    rig.adminRunner.setStanding(mac.adminRestore, succeeded);
    rig.controller.adoptSleepSwitchEngaged();
    EXPECT_TRUE(rig.controller.isLidClosedProtectionEngaged());
    EXPECT_TRUE(rig.markerExists());

    EXPECT_TRUE(rig.controller.restoreNormalSleep());
    EXPECT_FALSE(rig.markerExists());
    EXPECT_EQ(rig.adminRunner.commands(), Commands{mac.adminRestore});
}

TEST(SleepControllerLidClosed, MarkerThatCannotBeWrittenIsLoggedAndEngagementStands) {
    Rig rig;
    rig.folder.write("Support", "a file where the folder belongs");
    rig.adminRunner.setStanding(mac.engage, succeeded);

    EXPECT_TRUE(rig.controller.engageLidClosedProtection());
    EXPECT_TRUE(rig.controller.isLidClosedProtectionEngaged());
    const auto messages = rig.messages();
    ASSERT_EQ(messages.size(), 2u);
    const std::string prefix = "Failed to write disablesleep marker: ";
    EXPECT_EQ(messages[1].rfind(prefix, 0), 0u) << messages[1];
    EXPECT_GT(messages[1].size(), prefix.size());
}

TEST(SleepControllerLidClosed, SleepNowLogsTheRequestAndAnyFailure) {
    Rig rig;
    rig.runner.enqueue(mac.sleepNow, succeeded);
    rig.runner.enqueue(mac.sleepNow, failedDirectly);
    rig.controller.sleepNow();
    rig.controller.sleepNow();
    EXPECT_EQ(rig.runner.commands(), (Commands{mac.sleepNow, mac.sleepNow}));
    EXPECT_EQ(rig.messages(), (Messages{"Requesting pmset sleepnow", "Requesting pmset sleepnow",
                                        "pmset sleepnow failed: " + textOf(failedDirectly)}));
}

TEST(SleepControllerLidClosed, ReadsTheSwitchStateFromTheListing) {
    const std::vector<std::pair<CommandResult, SleepSwitchState>> cases{
        {printed(listing("1")), SleepSwitchState::sleepDisabled},
        {printed(listing("0")), SleepSwitchState::sleepEnabled},
        {printed("Currently in use:\n sleep 1\n"), SleepSwitchState::sleepEnabled},
        {printed(""), SleepSwitchState::unknown},
        {printed("\n \t\r\n"), SleepSwitchState::unknown},
        {failedDirectly, SleepSwitchState::unknown},
    };
    Rig rig;
    for (const auto& [readState, expected] : cases) {
        rig.runner.enqueue(mac.readState, readState);
        rig.runner.enqueue(mac.readState, readState);
        EXPECT_EQ(rig.controller.sleepSwitchState(), expected);
        EXPECT_EQ(rig.controller.isSystemSleepDisabled(),
                  expected == SleepSwitchState::sleepDisabled);
    }
    EXPECT_TRUE(rig.messages().empty());
}

TEST(SleepControllerSwitchListing, FindsTheSleepDisabledLine) {
    struct Case {
        std::string text;
        bool expected;
    };
    const std::vector<Case> cases{
        {" SleepDisabled\t1", true},
        {" SleepDisabled\t0", false},
        {"SleepDisabled 1\n", true},
        {"a 1\n\n\t SleepDisabled   \t  1  \nSleepDisabled 0\n", true},
        {"System-wide power settings:\n standby 1\n", false},
        {"SleepDisabled", false},
        {" SleepDisabled \t\n1", false},
        {"sleepdisabled 1", false},
        {"SleepDisabledX 1", false},
        {"SleepDisabled 1 0", false},
        {"SleepDisabled 0 1", true},
        {"x SleepDisabled 1", false},
        {"", false},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(SleepController::parseSleepDisabled(testCase.text), testCase.expected)
            << testCase.text;
    }
}

TEST(SleepControllerLidClosed, AHelperCommandSetDrivesTheSameLogic) {
    const auto helper = SleepCommandSet::privilegedHelper("/usr/bin/pkexec", "/opt/sleep-switch");
    const std::vector<std::string> passed{"DBUS_SYSTEM_BUS_ADDRESS", "STAYLOOM_UNIT_ROOT"};
    const ShellCommand disable{"/usr/bin/pkexec", {"/opt/sleep-switch", "disable"}, passed};
    const ShellCommand status{"/opt/sleep-switch", {"status"}, passed};
    Rig rig(helper);
    rig.adminRunner.setStanding(disable, succeeded);
    rig.adminRunner.setStanding(helper.adminRestore, declined);
    rig.runner.setStanding(helper.directRestore, succeeded);
    rig.runner.setStanding(status, printed("Sleep switch:\n SleepDisabled\t\t0\n"));
    rig.runner.setStanding(helper.sleepNow, succeeded);

    EXPECT_TRUE(rig.controller.engageLidClosedProtection());
    EXPECT_FALSE(rig.controller.isSystemSleepDisabled());
    EXPECT_TRUE(rig.controller.disengageSleepSwitch());
    rig.controller.sleepNow();
    EXPECT_EQ(rig.adminRunner.commands(),
              (Commands{disable, {"/usr/bin/pkexec", {"/opt/sleep-switch", "enable"}, passed}}));
    EXPECT_EQ(rig.runner.commands(), (Commands{status,
                                               {"/opt/sleep-switch", {"enable"}, passed},
                                               status,
                                               {"/opt/sleep-switch", {"suspend"}, passed}}));
}

} // namespace
