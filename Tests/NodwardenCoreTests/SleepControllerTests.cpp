#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include "Support/FakeKeepAwakeProgram.hpp"
#include "Support/LoggedMessages.hpp"
#include "Support/ScriptedCommandRunner.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace nodwarden;
using namespace stayloom::testing;

/// Stands between the controller and the system for its waits and signals, and records them as
/// "sleep", "TERM <pid>" and "KILL <pid>". Sleeps cost nothing until a SIGKILL has been
/// delivered (a SIGTERM-ignoring child cannot end sooner), so the counted waits run fast; a
/// SIGKILL can be held back to model a child that outlives it.
class RecordingProcessControl {
public:
    bool holdBackKill = false;
    bool deliverSignals = true;
    /// Every sleep takes its real time, for children that answer SIGTERM.
    bool sleepsAreReal = false;
    /// Runs before every sleep, on the controller's thread.
    std::function<void()> beforeSleep;

    ProcessControl control() {
        return ProcessControl{
            .sleepFor =
                [this](double seconds) {
                    if (beforeSleep) {
                        beforeSleep();
                    }
                    record("sleep");
                    if (sleepsAreReal || killDelivered_) {
                        nodwarden::sleepForSeconds(seconds);
                    }
                },
            .sendSignal =
                [this](std::int32_t pid, int signal) {
                    const bool isKill = signal == SIGKILL;
                    record((isKill              ? "KILL "
                            : signal == SIGTERM ? "TERM "
                                                : "SIGNAL ") +
                           std::to_string(pid));
                    if (deliverSignals && !(isKill && holdBackKill)) {
                        killDelivered_ = killDelivered_ || isKill;
                        ::kill(pid, signal);
                    }
                },
        };
    }

    std::vector<std::string> events() const {
        std::lock_guard guard(mutex_);
        return events_;
    }

private:
    void record(std::string event) {
        std::lock_guard guard(mutex_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::atomic<bool> killDelivered_{false};
};

/// `count` copies of `event`.
std::vector<std::string> repeated(const std::string& event, std::size_t count) {
    return std::vector<std::string>(count, event);
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class SleepControllerKeepAwake : public ::testing::Test {
protected:
    std::unique_ptr<SleepController> makeController(ProcessControl control = {}) {
        return std::make_unique<SleepController>(runner, adminRunner, logger, fake->path().string(),
                                                 files, nodwarden::SleepCommandSet::macOS(),
                                                 control);
    }

    void useFake(FakeKeepAwakeProgram::OnSIGTERM onSIGTERM) {
        fake =
            std::make_unique<FakeKeepAwakeProgram>(folder.path() / "bin", "caffeinate", onSIGTERM);
    }

    std::string pidFileText() const { return readFile(files.pidFilePath); }
    bool pidFileExists() const { return std::filesystem::exists(files.pidFilePath); }

    /// The single identifier in the pid file; 0 when it does not hold exactly one line.
    std::int32_t onlyPID() const {
        const auto text = pidFileText();
        if (text.empty() || text.find('\n') != text.size() - 1) {
            return 0;
        }
        return std::stoi(text);
    }

    TemporaryDirectory folder;
    FileLogger logger{folder.path() / "Logs" / "Nodwarden.log"};
    ScriptedCommandRunner runner;
    ScriptedCommandRunner adminRunner;
    SleepControllerFiles files{folder.path() / "Support" / "caffeinate.pid",
                               folder.path() / "Support" / "disablesleep.engaged"};
    std::unique_ptr<FakeKeepAwakeProgram> fake = std::make_unique<FakeKeepAwakeProgram>(
        folder.path() / "bin", "caffeinate", FakeKeepAwakeProgram::OnSIGTERM::exit);
};

TEST_F(SleepControllerKeepAwake, HoldsWithOneChildAndStopsItOnRequest) {
    auto controller = makeController();
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), std::nullopt);

    EXPECT_TRUE(controller->setSleepPrevention(true, false, false));
    const auto pid = onlyPID();
    ASSERT_GT(pid, 0) << pidFileText();
    EXPECT_EQ(fake->waitForStart(pid), "-dimsu");
    EXPECT_TRUE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), false);

    // The same posture again starts nothing and logs nothing.
    EXPECT_TRUE(controller->setSleepPrevention(true, false, false));
    EXPECT_EQ(pidFileText(), std::to_string(pid) + "\n");

    EXPECT_TRUE(controller->setSleepPrevention(false, false, false));
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), std::nullopt);
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(fake->terminationRequests(), std::vector<std::int32_t>{pid});
    EXPECT_FALSE(processExists(pid)) << "the stopped child was left unreaped";
    EXPECT_EQ(fake->starts().size(), 1u);
    EXPECT_EQ(loggedMessages(logger),
              (std::vector<std::string>{"Started caffeinate pid " + std::to_string(pid),
                                        "Stopped caffeinate pid " + std::to_string(pid)}));
    EXPECT_TRUE(runner.commands().empty());
    EXPECT_TRUE(adminRunner.commands().empty());
}

TEST_F(SleepControllerKeepAwake, ChildDoesNotInheritTheCallersDescriptors) {
    // A pipe opened without close-on-exec: a reader waiting for its end of file must not wait
    // for as long as the keep-awake child lives.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    auto controller = makeController();
    controller->enableSleepPrevention(false, false);
    ::close(pipeEnds[1]);
    const auto pid = onlyPID();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(fake->waitForStart(pid));

    ::fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    char byte = 0;
    EXPECT_EQ(::read(pipeEnds[0], &byte, 1), 0) << "the child holds the pipe open";
    ::close(pipeEnds[0]);
}

TEST_F(SleepControllerKeepAwake, ChildSeesOnlyTheEnvironmentItsContractNames) {
    // API keys live in the program's environment; the helper needs its buses and nothing else.
    const auto helper = folder.write(
        "bin/helper", "#!/bin/sh\nenv > \"$0.env\"\neval \"echo READY=1 >&$STAYLOOM_READY_FD\"\n"
                      "exec sleep 30\n");
    std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system", 1);
    ::setenv("STAYLOOM_PLANTED_SECRET", "sk-secret", 1);
    SleepController controller(runner, adminRunner, logger, helper.string(), files,
                               nodwarden::SleepCommandSet::macOS(), ProcessControl{},
                               nodwarden::KeepAwakeContract::linuxHelper());
    const bool held = controller.setSleepPrevention(true, false, false);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    ::unsetenv("STAYLOOM_PLANTED_SECRET");
    ASSERT_TRUE(held && controller.isSleepPreventionEnabled())
        << ::testing::PrintToString(loggedMessages(logger));
    const auto seen = readFile(helper.string() + ".env");
    controller.restoreNormalSleep();

    EXPECT_EQ(seen.find("sk-secret"), std::string::npos) << seen;
    for (const auto& entry : {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system\n",
                              "STAYLOOM_READY_FD=3\n", "PATH="}) {
        EXPECT_NE(seen.find(entry), std::string::npos) << entry << " in " << seen;
    }
    EXPECT_NE(seen.find("STAYLOOM_PARENT_PID=" + std::to_string(::getpid()) + "\n"),
              std::string::npos)
        << seen;
}

TEST_F(SleepControllerKeepAwake, PostureChangeStartsTheNewChildBeforeRetiringTheOld) {
    RecordingProcessControl recorder;
    recorder.sleepsAreReal = true;
    std::vector<std::string> pidFileDuringRetirement;
    recorder.beforeSleep = [&] { pidFileDuringRetirement.push_back(pidFileText()); };
    auto controller = makeController(recorder.control());

    ASSERT_TRUE(controller->enableSleepPrevention(false, false));
    const auto old = onlyPID();
    ASSERT_GT(old, 0);
    ASSERT_TRUE(fake->waitForStart(old));

    EXPECT_TRUE(controller->enableSleepPrevention(false, true));
    const auto current = onlyPID();
    ASSERT_GT(current, 0) << pidFileText();
    EXPECT_NE(current, old);
    EXPECT_EQ(fake->waitForStart(current), "-ims");
    ASSERT_FALSE(pidFileDuringRetirement.empty());
    EXPECT_EQ(pidFileDuringRetirement.front(),
              std::to_string(current) + "\n" + std::to_string(old) + "\n");
    EXPECT_EQ(recorder.events().front(), "TERM " + std::to_string(old));
    EXPECT_EQ(fake->terminationRequests(), std::vector<std::int32_t>{old});
    EXPECT_FALSE(processExists(old));
    EXPECT_TRUE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), true);
    EXPECT_EQ(loggedMessages(logger),
              (std::vector<std::string>{"Started caffeinate pid " + std::to_string(old),
                                        "Started caffeinate pid " + std::to_string(current),
                                        "Retired previous caffeinate pid " + std::to_string(old) +
                                            " after a display-posture change"}));
}

TEST_F(SleepControllerKeepAwake, LaunchFailureIsLoggedOncePerRunOfFailures) {
    auto controller = makeController();
    const auto failure = std::string("Failed to start caffeinate: ") +
                         CommandLaunchError(fake->path().string(), ENOENT).what() +
                         " — retrying each tick, logging once";

    fake->setInstalled(false);
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_TRUE(controller->setSleepPrevention(true, false, false));
        EXPECT_FALSE(controller->isSleepPreventionEnabled());
        EXPECT_EQ(controller->appliedLetDisplaySleep(), std::nullopt);
    }
    EXPECT_EQ(loggedMessages(logger), std::vector<std::string>{failure});

    fake->setInstalled(true);
    EXPECT_TRUE(controller->setSleepPrevention(true, false, false));
    EXPECT_TRUE(controller->isSleepPreventionEnabled());
    const auto pid = onlyPID();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(fake->waitForStart(pid));
    controller->restoreNormalSleep();

    fake->setInstalled(false);
    controller->setSleepPrevention(true, false, false);
    controller->setSleepPrevention(true, false, false);
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(loggedMessages(logger),
              (std::vector<std::string>{failure, "Started caffeinate pid " + std::to_string(pid),
                                        "Stopped caffeinate pid " + std::to_string(pid), failure}));
}

TEST_F(SleepControllerKeepAwake, FailedLaunchDuringPostureChangeKeepsTheOldChildHolding) {
    auto controller = makeController();
    ASSERT_TRUE(controller->enableSleepPrevention(false, false));
    const auto old = onlyPID();
    ASSERT_GT(old, 0);
    ASSERT_TRUE(fake->waitForStart(old));

    fake->setInstalled(false);
    EXPECT_TRUE(controller->enableSleepPrevention(false, true));
    EXPECT_TRUE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), false);
    EXPECT_EQ(pidFileText(), std::to_string(old) + "\n");
    EXPECT_TRUE(fake->terminationRequests().empty());
    EXPECT_EQ(loggedMessages(logger).size(), 2u);
}

TEST_F(SleepControllerKeepAwake, StubbornChildGetsSIGKILLAfterSixtyOneCountedSleeps) {
    useFake(FakeKeepAwakeProgram::OnSIGTERM::ignore);
    RecordingProcessControl recorder;
    std::unique_ptr<SleepController> controller;
    std::vector<bool> gettersAnswered;
    // The getters must not wait behind a stop in progress: the lock is not held across waits.
    recorder.beforeSleep = [&] {
        if (gettersAnswered.empty()) {
            auto answer = std::async(std::launch::async, [&] {
                controller->isSleepPreventionEnabled();
                controller->appliedLetDisplaySleep();
                return controller->isLidClosedProtectionEngaged();
            });
            gettersAnswered.push_back(answer.wait_for(std::chrono::seconds(20)) ==
                                      std::future_status::ready);
        }
    };
    controller = makeController(recorder.control());
    ASSERT_TRUE(controller->enableSleepPrevention(false, false));
    const auto pid = onlyPID();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(fake->waitForStart(pid));

    EXPECT_TRUE(controller->restoreNormalSleep());
    const auto id = std::to_string(pid);
    const auto events = recorder.events();
    const auto beforeKill = joined({{"TERM " + id}, repeated("sleep", 61), {"KILL " + id}});
    ASSERT_GT(events.size(), beforeKill.size());
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 63), beforeKill);
    EXPECT_LE(events.size() - beforeKill.size(), 20u);
    EXPECT_EQ(gettersAnswered, std::vector<bool>{true});
    EXPECT_FALSE(processExists(pid));
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(loggedMessages(logger).back(), "Stopped caffeinate pid " + id);
}

TEST_F(SleepControllerKeepAwake, ChildOutlivingSIGKILLStaysListedAndIsReapedOnDestruction) {
    useFake(FakeKeepAwakeProgram::OnSIGTERM::ignore);
    RecordingProcessControl recorder;
    recorder.holdBackKill = true;
    auto controller = makeController(recorder.control());
    ASSERT_TRUE(controller->enableSleepPrevention(false, false));
    const auto pid = onlyPID();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(fake->waitForStart(pid));
    const auto id = std::to_string(pid);

    EXPECT_TRUE(controller->restoreNormalSleep());
    EXPECT_EQ(
        recorder.events(),
        joined({{"TERM " + id}, repeated("sleep", 61), {"KILL " + id}, repeated("sleep", 20)}));
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), std::nullopt);
    EXPECT_EQ(
        loggedMessages(logger).back(),
        "caffeinate pid " + id +
            " did not confirm exit after SIGTERM; sent SIGKILL and moved on without blocking");
    // Still alive, so still listed for the next launch's clean-up.
    EXPECT_TRUE(processExists(pid));
    EXPECT_EQ(pidFileText(), id + "\n");

    controller.reset();
    EXPECT_FALSE(processExists(pid)) << "the straggler was left running or unreaped";
    EXPECT_FALSE(pidFileExists());
}

TEST_F(SleepControllerKeepAwake, PreviousChildOutlivingSIGKILLKeepsBothIdentifiersListed) {
    useFake(FakeKeepAwakeProgram::OnSIGTERM::ignore);
    RecordingProcessControl recorder;
    recorder.holdBackKill = true;
    auto controller = makeController(recorder.control());
    ASSERT_TRUE(controller->enableSleepPrevention(false, false));
    const auto old = onlyPID();
    ASSERT_GT(old, 0);
    ASSERT_TRUE(fake->waitForStart(old)); // its SIGTERM trap is in place

    EXPECT_TRUE(controller->enableSleepPrevention(false, true));
    const auto text = pidFileText();
    const auto current = std::stoi(text);
    EXPECT_EQ(text, std::to_string(current) + "\n" + std::to_string(old) + "\n");
    EXPECT_EQ(controller->appliedLetDisplaySleep(), true);
    EXPECT_EQ(loggedMessages(logger),
              (std::vector<std::string>{"Started caffeinate pid " + std::to_string(old),
                                        "Started caffeinate pid " + std::to_string(current),
                                        "Previous caffeinate pid " + std::to_string(old) +
                                            " did not confirm exit; sent SIGKILL and moved on"}));

    controller.reset();
    EXPECT_FALSE(processExists(old));
    EXPECT_FALSE(processExists(current));
    EXPECT_FALSE(pidFileExists());
}

TEST_F(SleepControllerKeepAwake, StoppingWithoutALiveChildLogsNothing) {
    auto controller = makeController();
    folder.write("Support/caffeinate.pid", "999999\n");
    EXPECT_TRUE(controller->restoreNormalSleep());
    EXPECT_FALSE(pidFileExists());

    ASSERT_TRUE(controller->enableSleepPrevention(false, false));
    const auto first = onlyPID();
    ASSERT_GT(first, 0);
    ::kill(first, SIGKILL);
    for (int look = 0; look < 2000 && controller->appliedLetDisplaySleep(); ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(controller->appliedLetDisplaySleep(), std::nullopt);
    EXPECT_FALSE(processExists(first)) << "a child that died on its own was left unreaped";

    // A dead child is replaced by the next request, and stopping a dead one logs nothing.
    ASSERT_TRUE(controller->enableSleepPrevention(false, false));
    const auto second = onlyPID();
    ASSERT_GT(second, 0);
    EXPECT_NE(second, first);
    ::kill(second, SIGKILL);
    for (int look = 0; look < 2000 && controller->appliedLetDisplaySleep(); ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(controller->restoreNormalSleep());
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(loggedMessages(logger),
              (std::vector<std::string>{"Started caffeinate pid " + std::to_string(first),
                                        "Started caffeinate pid " + std::to_string(second)}));
}

TEST_F(SleepControllerKeepAwake, PIDFileThatCannotBeWrittenLeavesTheHoldInForce) {
    // A plain file where the folder should be.
    folder.write("Support/blocker", "not a folder");
    files.pidFilePath = folder.path() / "Support" / "blocker" / "caffeinate.pid";
    auto controller = makeController();

    EXPECT_TRUE(controller->enableSleepPrevention(false, false));
    EXPECT_TRUE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), false);
    auto messages = loggedMessages(logger);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("Failed to write caffeinate pid(s): ", 0), 0u) << messages[0];
    EXPECT_GT(messages[0].size(), std::string("Failed to write caffeinate pid(s): ").size());
    EXPECT_EQ(messages[1].rfind("Started caffeinate pid ", 0), 0u) << messages[1];

    controller->restoreNormalSleep();
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(loggedMessages(logger).back().rfind("Stopped caffeinate pid ", 0), 0u);
}

TEST(SleepControllerPIDFile, ParsesOneIdentifierPerLineAtEveryNewlineKind) {
    struct Case {
        std::string text;
        std::vector<std::int32_t> expected;
    };
    const std::vector<Case> cases{
        {"123\n  456  \n\nabc\n", {123, 456}},
        {"1\x0B"
         "2\x0C"
         "3\r4\r\n5\xC2\x85"
         "6\xE2\x80\xA8"
         "7\xE2\x80\xA9"
         "8",
         {1, 2, 3, 4, 5, 6, 7, 8}},
        {"\t 9\t\n+12\n-7\n2147483647\n-2147483648\n", {9, 12, -7, 2147483647, -2147483647 - 1}},
        {"2147483648\n-2147483649\n1 2\n+-3\n+\n-\n12a\n0x10\n\xC2\xA0"
         "5\n",
         {}},
        {"", {}},
        {"\n\r\n \t \n", {}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(SleepController::parseKeepAwakePIDs(testCase.text), testCase.expected)
            << testCase.text;
    }
}

TEST(SleepControllerPIDFile, ABadLineSkipsOnlyItselfAndNothingInItsPlaceBlocksOrRunsAway) {
    TemporaryDirectory folder;
    FileLogger logger(folder.path() / "log");
    ScriptedCommandRunner runner;
    const SleepControllerFiles files{folder.path() / "caffeinate.pid",
                                     folder.path() / "disablesleep.engaged"};
    SleepController controller(runner, runner, logger, "/nonexistent/caffeinate", files);
    EXPECT_TRUE(controller.readKeepAwakePIDs().empty());
    folder.write("caffeinate.pid", "12\n\xFF\n34\n");
    EXPECT_EQ(controller.readKeepAwakePIDs(), (std::vector<std::int32_t>{12, 34}));
    folder.write("caffeinate.pid", "12\xE2\x80\xA8 34 \n");
    EXPECT_EQ(controller.readKeepAwakePIDs(), (std::vector<std::int32_t>{12, 34}));

    // A FIFO nobody writes to would hold the read for ever; /dev/zero never ends.
    std::filesystem::remove(files.pidFilePath);
    ASSERT_EQ(::mkfifo(files.pidFilePath.c_str(), 0600), 0);
    EXPECT_TRUE(controller.readKeepAwakePIDs().empty());
    std::filesystem::remove(files.pidFilePath);
    std::filesystem::create_symlink("/dev/zero", files.pidFilePath);
    EXPECT_TRUE(controller.readKeepAwakePIDs().empty());
}

TEST_F(SleepControllerKeepAwake, ReconcileStopsOnlyOrphansNamedCaffeinate) {
    // Real processes and the real process listing: an orphan whose name holds "Caffeinate" in
    // another letter case, and a bystander that must survive.
    const FakeKeepAwakeProgram orphanProgram(folder.path() / "orphans", "Caffeinate-Old");
    const FakeKeepAwakeProgram bystanderProgram(folder.path() / "orphans", "bystander");
    const auto orphan = nodwarden::KeepAwakeProcess::launch(orphanProgram.path(), {"-dimsu"});
    const auto bystander = nodwarden::KeepAwakeProcess::launch(bystanderProgram.path(), {});
    ASSERT_TRUE(orphanProgram.waitForStart(orphan->pid()));
    ASSERT_TRUE(bystanderProgram.waitForStart(bystander->pid()));
    folder.write("Support/caffeinate.pid", std::to_string(bystander->pid()) + "\n" +
                                               std::to_string(orphan->pid()) +
                                               "\n2147483646\nabc\n");

    ProcessCommandRunner realRunner(8);
    RecordingProcessControl recorder;
    SleepController controller(realRunner, adminRunner, logger, fake->path().string(), files,
                               nodwarden::SleepCommandSet::macOS(), recorder.control());
    controller.reconcileOrphanedKeepAwakeChildren();

    EXPECT_EQ(recorder.events(), std::vector<std::string>{"TERM " + std::to_string(orphan->pid())});
    EXPECT_TRUE(orphan->waitForExit(20, ProcessControl{}));
    EXPECT_EQ(orphanProgram.terminationRequests(), std::vector<std::int32_t>{orphan->pid()});
    EXPECT_TRUE(bystander->isRunning());
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(loggedMessages(logger),
              std::vector<std::string>{"Killed orphaned caffeinate pid " +
                                       std::to_string(orphan->pid()) + " left by a previous run"});
}

TEST_F(SleepControllerKeepAwake, ReconcileSkipsFailedListingsAndNonPositiveIdentifiers) {
    const auto ps = [](const std::string& pid) {
        return ShellCommand{"/bin/ps", {"-p", pid, "-o", "comm="}};
    };
    runner.setStanding(ps("41"), CommandResult{1, "", ""});
    runner.setStanding(ps("42"), CommandResult{0, "/usr/bin/CAFFEINATE\n", ""});
    runner.setStanding(ps("43"), CommandResult{0, "sleep\n", ""});
    runner.setStanding(ps("0"), CommandResult{0, "caffeinate\n", ""});
    runner.setStanding(ps("-1"), CommandResult{0, "caffeinate\n", ""});
    folder.write("Support/caffeinate.pid", "0\n-1\n41\n42\n43\n44\n");
    RecordingProcessControl recorder;
    recorder.deliverSignals = false; // none of these identifiers are ours to signal
    auto controller = makeController(recorder.control());
    controller->reconcileOrphanedKeepAwakeChildren();

    EXPECT_EQ(recorder.events(), std::vector<std::string>{"TERM 42"});
    EXPECT_EQ(runner.commands(),
              (std::vector<ShellCommand>{ps("41"), ps("42"), ps("43"), ps("44")}));
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(loggedMessages(logger),
              std::vector<std::string>{"Killed orphaned caffeinate pid 42 left by a previous run"});

    // An empty file is still removed, without any listing.
    folder.write("Support/caffeinate.pid", "");
    controller->reconcileOrphanedKeepAwakeChildren();
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(runner.commands().size(), 4u);
}

TEST_F(SleepControllerKeepAwake, ReconcileWithProcfsStopsOnlyItsProgramStartedBeforeTheRecord) {
    // Another keep-awake program installs its own `caffeinate`, and a pid file outlives a reboot:
    // neither a name nor a number is enough to signal a process.
    fake = std::make_unique<FakeKeepAwakeProgram>(folder.path() / "libexec", "stayloom-inhibit");
    const auto impostorPath = folder.path() / "elsewhere" / "caffeinate";
    std::filesystem::create_directories(impostorPath.parent_path());
    std::filesystem::copy_file("/bin/sleep", impostorPath);
    const auto ours = nodwarden::KeepAwakeProcess::launch(fake->path().string(), {"-dimsu"});
    const auto impostor = nodwarden::KeepAwakeProcess::launch(impostorPath.string(), {"30"});
    // Names the helper in its arguments, but only the interpreter of its "#!" line runs it.
    const auto reader = nodwarden::KeepAwakeProcess::launch(
        "/usr/bin/tail", {"-f", fake->path().string(), "--lines=0"});
    // The helper's name in an earlier release, beside it: an upgrade may leave one running.
    const auto formerPath = fake->path().parent_path() / "caffeinate";
    std::filesystem::copy_file("/bin/sleep", formerPath);
    const auto former = nodwarden::KeepAwakeProcess::launch(formerPath.string(), {"30"});
    ASSERT_TRUE(fake->waitForStart(ours->pid()));
    const auto listing = std::to_string(impostor->pid()) + "\n" + std::to_string(reader->pid()) +
                         "\n" + std::to_string(ours->pid()) + "\n" + std::to_string(former->pid()) +
                         "\n2147483646\n";

    const nodwarden::KeepAwakeContract procfs{.readinessTimeoutSeconds = std::nullopt,
                                              .processRoot = "/proc",
                                              .formerNames = {"caffeinate"}};
    RecordingProcessControl recorder;
    recorder.deliverSignals = false;
    SleepController controller(runner, adminRunner, logger, fake->path().string(), files,
                               nodwarden::SleepCommandSet::macOS(), recorder.control(), procfs);

    // Written before the process started: the identifier was reused since.
    folder.write("Support/caffeinate.pid", listing);
    std::filesystem::last_write_time(
        files.pidFilePath, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    controller.reconcileOrphanedKeepAwakeChildren();
    EXPECT_EQ(recorder.events(), std::vector<std::string>{});
    EXPECT_FALSE(pidFileExists());

    folder.write("Support/caffeinate.pid", listing);
    controller.reconcileOrphanedKeepAwakeChildren();
    EXPECT_EQ(recorder.events(),
              (std::vector<std::string>{"TERM " + std::to_string(ours->pid()),
                                        "TERM " + std::to_string(former->pid())}));
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(
        loggedMessages(logger),
        (std::vector<std::string>{"Killed orphaned caffeinate pid " + std::to_string(ours->pid()) +
                                      " left by a previous run",
                                  "Killed orphaned caffeinate pid " +
                                      std::to_string(former->pid()) + " left by a previous run"}));
    EXPECT_TRUE(runner.commands().empty()) << "procfs is read directly, no ps";
}

TEST_F(SleepControllerKeepAwake, AChildThatEndsBeforeReportingReadinessIsAFailedLaunch) {
    // The Linux helper exits 1 at once when logind refuses its lock: that is no hold, and no
    // "Started" line on every tick either.
    const auto script = [&](const std::string& name, const std::string& body) {
        const auto path = folder.write("bin/" + name, "#!/bin/sh\n" + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path.string();
    };
    const auto refused = script("refused", "exit 1\n");
    const auto silent = script("silent", "exec sleep 30\n");
    const auto ready =
        script("ready", "eval \"echo READY=1 >&$STAYLOOM_READY_FD\"\nexec sleep 30\n");
    const auto controllerFor = [&](const std::string& path, double timeout) {
        return std::make_unique<SleepController>(
            runner, adminRunner, logger, path, files, nodwarden::SleepCommandSet::macOS(),
            ProcessControl{},
            nodwarden::KeepAwakeContract{.readinessTimeoutSeconds = timeout, .processRoot = {}});
    };
    const auto failure = [](const std::string& error) {
        return "Failed to start caffeinate: " + error + " — retrying each tick, logging once";
    };

    auto controller = controllerFor(refused, 10);
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_TRUE(controller->setSleepPrevention(true, false, false));
        EXPECT_FALSE(controller->isSleepPreventionEnabled());
        EXPECT_EQ(controller->appliedLetDisplaySleep(), std::nullopt);
    }
    EXPECT_FALSE(pidFileExists());
    EXPECT_EQ(loggedMessages(logger),
              std::vector<std::string>{failure(refused + " exited with status 1 before holding the "
                                                         "machine awake")});

    controller = controllerFor(silent, 0.3);
    EXPECT_TRUE(controller->setSleepPrevention(true, false, false));
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(loggedMessages(logger).back(),
              failure(silent + " did not report holding the machine awake within 0.3 s"));

    controller = controllerFor(ready, 10);
    EXPECT_TRUE(controller->setSleepPrevention(true, false, true));
    EXPECT_TRUE(controller->isSleepPreventionEnabled());
    EXPECT_EQ(controller->appliedLetDisplaySleep(), std::optional<bool>(true));
    const auto pid = onlyPID();
    EXPECT_EQ(loggedMessages(logger).back(), "Started caffeinate pid " + std::to_string(pid));
    controller->restoreNormalSleep();
    EXPECT_FALSE(processExists(pid));
}

TEST_F(SleepControllerKeepAwake, GettersRunSafelyBesideStateChanges) {
    auto controller = makeController();
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            controller->isSleepPreventionEnabled();
            controller->appliedLetDisplaySleep();
            controller->isLidClosedProtectionEngaged();
            ++reads;
        }
    });
    for (int round = 0; round < 3; ++round) {
        controller->enableSleepPrevention(false, false);
        controller->enableSleepPrevention(false, true);
        controller->restoreNormalSleep();
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_FALSE(controller->isSleepPreventionEnabled());
    EXPECT_FALSE(pidFileExists());
    const auto starts = fake->starts();
    for (const auto& start : starts) {
        EXPECT_FALSE(processExists(start.pid)) << start.pid;
    }
}

} // namespace
