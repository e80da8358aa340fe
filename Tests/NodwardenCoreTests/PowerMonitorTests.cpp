#include <NodwardenCore/macos/LidStateDetector.hpp>
#include <NodwardenCore/macos/PowerMonitor.hpp>

#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include "Support/LoggedMessages.hpp"
#include "Support/ScriptedCommandRunner.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace nodwarden;
using namespace stayloom::testing;

std::string fixture(const std::string& name) {
    const auto path = fixturePath("macos/" + name);
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
    return readFile(path);
}

const PowerSnapshot unreadable{false, std::nullopt, "Unable to read battery state"};

struct BatteryCase {
    const char* name;
    std::string text;
    bool isOnACPower;
    std::optional<int> batteryPercent;
};

TEST(PowerMonitor, ParsesCapturedBatteryListings) {
    const std::vector<BatteryCase> cases{
        {"mains, charged", fixture("pmset-batt-ac-charged.txt"), true, 100},
        {"mains, not charging", fixture("pmset-batt-ac-not-charging.txt"), true, 80},
        {"battery", fixture("pmset-batt-battery-discharging.txt"), false, 42},
        {"battery, no estimate", fixture("pmset-batt-battery-no-estimate.txt"), false, 7},
        {"desktop", fixture("pmset-batt-desktop.txt"), true, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto snapshot = PowerMonitor::parsePMSetBatteryOutput(testCase.text);
        EXPECT_EQ(snapshot.isOnACPower, testCase.isOnACPower);
        EXPECT_EQ(snapshot.batteryPercent, testCase.batteryPercent);
        ASSERT_TRUE(testCase.text.ends_with("\n"));
        EXPECT_EQ(snapshot.rawDescription, testCase.text.substr(0, testCase.text.size() - 1));
    }
}

TEST(PowerMonitor, ParsesBatteryListingEdgeCases) {
    const std::vector<BatteryCase> cases{
        {"no source and no percentage", "Battery status unavailable", false, std::nullopt},
        {"first of two percentages", "Now drawing from 'Battery Power'\n -A\t55%; -B\t90%", false,
         55},
        {"source in any case", "NOW DRAWING FROM 'ac POWER'", true, std::nullopt},
        {"unquoted source", "running on AC Power now", true, std::nullopt},
        {"battery power is not mains", "Now drawing from 'Battery Power'", false, std::nullopt},
        {"long number: last three digits", "1234%", false, 234},
        {"zero", "\t0%; discharging", false, 0},
        {"percent sign without digits", "charge: %; ratio 5 %", false, std::nullopt},
        {"empty", "", false, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto snapshot = PowerMonitor::parsePMSetBatteryOutput(testCase.text);
        EXPECT_EQ(snapshot.isOnACPower, testCase.isOnACPower);
        EXPECT_EQ(snapshot.batteryPercent, testCase.batteryPercent);
    }
}

TEST(PowerMonitor, RawDescriptionIsTheTrimmedText) {
    EXPECT_EQ(PowerMonitor::parsePMSetBatteryOutput(" \n\tNow drawing\n 5%\r\n \n").rawDescription,
              "Now drawing\n 5%");
    EXPECT_EQ(PowerMonitor::parsePMSetBatteryOutput("").rawDescription, "");
    EXPECT_EQ(PowerMonitor::parsePMSetBatteryOutput(" \n ").rawDescription, "");
}

struct LidCase {
    const char* name;
    std::string text;
    LidState expected;
};

TEST(LidStateDetector, ParsesCapturedRegistryListingsAndEdgeCases) {
    const std::vector<LidCase> cases{
        {"open laptop", fixture("ioreg-clamshell-open.txt"), LidState::open},
        {"closed laptop", fixture("ioreg-clamshell-closed.txt"), LidState::closed},
        {"desktop", fixture("ioreg-clamshell-desktop.txt"), LidState::unknown},
        {"yes in any case", "  \"appleCLAMSHELLstate\" = YES", LidState::closed},
        {"no in any case", "  \"AppleClamshellState\" = nO", LidState::open},
        {"unquoted yes", "AppleClamshellState = Yes", LidState::closed},
        {"unquoted no", "AppleClamshellState = No", LidState::open},
        {"only the neighbouring key", "\"AppleClamshellCausesSleep\" = Yes", LidState::unknown},
        {"value that is neither", "\"AppleClamshellState\" = 1", LidState::unknown},
        {"empty", "", LidState::unknown},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(LidStateDetector::parseIORegOutput(testCase.text), testCase.expected);
    }
}

class MonitorWithLog : public ::testing::Test {
protected:
    TemporaryDirectory folder;
    FileLogger logger{folder.path() / "Nodwarden.log"};
    ScriptedCommandRunner runner;
};

TEST_F(MonitorWithLog, PowerMonitorRunsTheBatteryListing) {
    runner.enqueue(PowerMonitor::command(),
                   CommandResult{0, fixture("pmset-batt-ac-charged.txt"), ""});
    PowerMonitor monitor(runner, logger);
    nodwarden::PowerSnapshotProviding& provider = monitor;
    const auto snapshot = provider.snapshot();
    EXPECT_TRUE(snapshot.isOnACPower);
    EXPECT_EQ(snapshot.batteryPercent, 100);
    const std::vector<ShellCommand> expected{{"/usr/bin/pmset", {"-g", "batt"}}};
    EXPECT_EQ(runner.commands(), expected);
    EXPECT_TRUE(loggedMessages(logger).empty());
}

TEST_F(MonitorWithLog, PowerMonitorFailuresGiveTheNeutralSnapshotAndALogLine) {
    runner.enqueue(PowerMonitor::command(), CommandResult{1, "", "pmset: no power source\n"});
    runner.enqueueError(PowerMonitor::command(), CommandLaunchError("/usr/bin/pmset", ENOENT));
    PowerMonitor monitor(runner, logger);
    EXPECT_EQ(monitor.snapshot(), unreadable);
    EXPECT_EQ(monitor.snapshot(), unreadable);
    EXPECT_EQ(loggedMessages(logger),
              (std::vector<std::string>{
                  "PowerMonitor failed: nonZeroExit(CommandResult(exitCode: 1, standardOutput: "
                  "\"\", standardError: \"pmset: no power source\\n\"))",
                  "PowerMonitor failed: /usr/bin/pmset: No such file or directory"}));
}

TEST_F(MonitorWithLog, LidStateDetectorRunsTheRegistryQuery) {
    runner.enqueue(LidStateDetector::command(),
                   CommandResult{0, fixture("ioreg-clamshell-closed.txt"), ""});
    LidStateDetector detector(runner, logger);
    nodwarden::LidStateProviding& provider = detector;
    EXPECT_EQ(provider.lid(), LidState::closed);
    const std::vector<ShellCommand> expected{
        {"/usr/sbin/ioreg", {"-r", "-k", "AppleClamshellState", "-d", "1"}}};
    EXPECT_EQ(runner.commands(), expected);
    EXPECT_TRUE(loggedMessages(logger).empty());
}

TEST_F(MonitorWithLog, LidStateDetectorFailuresGiveUnknownAndALogLine) {
    runner.enqueue(LidStateDetector::command(), CommandResult{SIGTERM, "partial", ""});
    LidStateDetector detector(runner, logger);
    EXPECT_EQ(detector.lid(), LidState::unknown);
    EXPECT_EQ(loggedMessages(logger),
              std::vector<std::string>{"LidStateDetector failed: nonZeroExit(CommandResult("
                                       "exitCode: 15, standardOutput: \"partial\", "
                                       "standardError: \"\"))"});
}

TEST_F(MonitorWithLog, MissingToolsThroughTheRealRunnerGiveNeutralValues) {
    if (std::filesystem::exists("/usr/bin/pmset") || std::filesystem::exists("/usr/sbin/ioreg")) {
        GTEST_SKIP() << "the macOS tools are present here";
    }
    ProcessCommandRunner real(8);
    PowerMonitor monitor(real, logger);
    LidStateDetector detector(real, logger);
    EXPECT_EQ(monitor.snapshot(), unreadable);
    EXPECT_EQ(detector.lid(), LidState::unknown);
    EXPECT_EQ(loggedMessages(logger),
              (std::vector<std::string>{
                  "PowerMonitor failed: /usr/bin/pmset: No such file or directory",
                  "LidStateDetector failed: /usr/sbin/ioreg: No such file or directory"}));
}

} // namespace
