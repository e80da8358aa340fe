// The launch repair of the sleep state, run by the model against the real sleep controller with
// scripted system tools, real pid and marker files, and a real leftover keep-awake process.

#include "AppSupport/AppModelHarness.hpp"
#include "Support/FakeKeepAwakeProgram.hpp"
#include "Support/ScriptedCommandRunner.hpp"

#include <NodwardenApp/model/SleepControlling.hpp>
#include <NodwardenCore/sleep/SleepController.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::AppModelHarness;
using stayloom::testing::FakeKeepAwakeProgram;
using stayloom::testing::ScriptedCommandRunner;

namespace {

/// The real controller over scripted tools, with its files in the harness's home.
struct RealController {
    explicit RealController(AppModelHarness& harness)
        : files{harness.home.path() / "support" / "caffeinate.pid",
                harness.home.path() / "support" / "disablesleep.engaged"},
          controller(runner, adminRunner, *harness.logger,
                     (harness.home.path() / "bin" / "caffeinate").string(), files),
          adapter(controller) {}

    void setSwitchReportedOff(bool off) {
        runner.setStanding(
            SleepCommandSet::macOS().readState,
            CommandResult{0, std::string(" SleepDisabled\t\t") + (off ? "1" : "0") + "\n", ""});
    }

    void writeMarker() const {
        std::filesystem::create_directories(files.engagedMarkerPath.parent_path());
        std::ofstream(files.engagedMarkerPath).close();
    }

    ScriptedCommandRunner runner;
    ScriptedCommandRunner adminRunner;
    SleepControllerFiles files;
    SleepController controller;
    SleepControllerAdapter<SleepController> adapter;
};

std::unique_ptr<AppModel> startModel(AppModelHarness& harness, RealController& real) {
    auto environment = harness.environment();
    environment.sleepController = &real.adapter;
    auto model = std::make_unique<AppModel>(std::move(environment));
    model->start();
    AppModelHarness::settle(*model);
    return model;
}

pid_t spawn(const std::filesystem::path& program) {
    const std::string path = program.string();
    char* arguments[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, arguments, environ) != 0) {
        return -1;
    }
    return pid;
}

} // namespace

TEST(AppModelLaunch, OrphanedKeepAwakeChildFromThePidFileIsStopped) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    FakeKeepAwakeProgram leftover(harness.home.path() / "previous", "caffeinate");
    const pid_t pid = spawn(leftover.path());
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(leftover.waitForStart(pid).has_value());

    // The real process table answers the name check.
    auto environment = harness.environment();
    ProcessCommandRunner ps(8);
    SleepControllerFiles files{harness.home.path() / "support" / "caffeinate.pid",
                               harness.home.path() / "support" / "disablesleep.engaged"};
    SleepController controller(ps, ps, *harness.logger, "/nonexistent/caffeinate", files);
    SleepControllerAdapter<SleepController> adapter(controller);
    std::filesystem::create_directories(files.pidFilePath.parent_path());
    std::ofstream(files.pidFilePath) << pid << "\n";
    environment.sleepController = &adapter;
    AppModel model(std::move(environment));

    model.start();
    AppModelHarness::settle(model);

    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(leftover.terminationRequests(), std::vector<std::int32_t>{pid});
    EXPECT_FALSE(std::filesystem::exists(files.pidFilePath));
    EXPECT_TRUE(harness.loggedLine("Killed orphaned caffeinate pid " + std::to_string(pid) +
                                   " left by a previous run"));
    EXPECT_FALSE(model.sleepCommands().staleSleepBlockDetected());
}

TEST(AppModelLaunch, SleepSwitchFoundOffIsAdoptedOrSurfaced) {
    struct Case {
        const char* name;
        bool marker;
        bool switchOff;
        bool adminRestoreWorks;
        bool lidClosedSetting;
        bool banner;
        /// Adopted, or still tracked after a refused restore.
        bool engaged;
        std::vector<std::string> lines;
    };
    const std::string notBackOn = "Launch repair could not confirm the sleep switch back on "
                                  "— surfacing stale-block banner";
    const std::string adoptedLine = "Adopted a sleep switch left off at launch (lid-closed on); "
                                    "normal release/quit will turn it back on";
    const std::string surfacedLine = "Sleep switch left off found at launch (lid-closed off) — "
                                     "surfacing restore banner";
    const std::vector<Case> cases = {
        {"switch off, lid-closed on", false, true, true, true, false, true, {adoptedLine}},
        {"switch off, lid-closed off", false, true, true, false, true, false, {surfacedLine}},
        {"switch on, no marker", false, false, true, false, false, false, {}},
        {"marker, restore refused",
         true,
         true,
         false,
         false,
         true,
         true,
         {notBackOn, surfacedLine}},
        {"marker, already restored", true, false, true, false, false, false, {}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        AppModelHarness harness;
        harness.acceptTermsAndOnboarding();
        GuardSettings settings{.keepAwakeWithLidClosed = testCase.lidClosedSetting};
        harness.storeSettings(settings);
        RealController real(harness);
        real.setSwitchReportedOff(testCase.switchOff);
        if (testCase.marker) {
            real.writeMarker();
        }
        if (!testCase.adminRestoreWorks) {
            real.adminRunner.setStandingError(
                SleepCommandSet::macOS().adminRestore,
                CommandRunnerError::nonZeroExit(CommandResult{1, "", "User canceled."}));
        }
        auto model = startModel(harness, real);

        EXPECT_EQ(model->sleepCommands().staleSleepBlockDetected(), testCase.banner);
        EXPECT_EQ(real.controller.isLidClosedProtectionEngaged(), testCase.engaged);
        EXPECT_EQ(model->sleepCommands().lidClosedProtectionEngaged(), false)
            << "published at the next decision";
        EXPECT_EQ(std::filesystem::exists(real.files.engagedMarkerPath), testCase.engaged);
        std::vector<std::string> lines;
        for (const std::string& line : harness.logged()) {
            if (line == notBackOn || line == adoptedLine || line == surfacedLine) {
                lines.push_back(line);
            }
        }
        EXPECT_EQ(lines, testCase.lines);
    }
}

TEST(AppModelLaunch, StaleBlockRestoreClearsTheBannerOnceTheSwitchIsBackOn) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    RealController real(harness);
    real.setSwitchReportedOff(true);
    auto model = startModel(harness, real);
    ASSERT_TRUE(model->sleepCommands().staleSleepBlockDetected());

    real.setSwitchReportedOff(false);
    model->restoreStaleSleepBlock();
    AppModelHarness::settle(*model);
    EXPECT_FALSE(model->sleepCommands().staleSleepBlockDetected());
    EXPECT_EQ(real.adminRunner.count(SleepCommandSet::macOS().adminRestore), 1u);
    EXPECT_TRUE(harness.loggedLine("Turning back on a sleep switch left off by a previous run"));
}
