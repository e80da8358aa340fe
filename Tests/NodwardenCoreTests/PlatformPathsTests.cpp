#include <NodwardenCore/system/PlatformPaths.hpp>

#include "Support/ScopedEnvironmentVariable.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace PlatformPaths = nodwarden::PlatformPaths;
using PlatformPaths::Environment;
using PlatformPaths::PathStyle;
using stayloom::testing::readFile;
using stayloom::testing::ScopedEnvironmentVariable;
using stayloom::testing::TemporaryDirectory;

struct PathCase {
    const char* name;
    Environment environment;
    PathStyle style;
    std::string log;
    std::string ledger;
    std::string pid;
    std::string marker;
    std::string statistics;
};

TEST(PlatformPaths, PlacesEveryFileByPlatformConvention) {
    const std::vector<PathCase> cases{
        {"macOS ignores XDG",
         {"/Users/ada", "/elsewhere"},
         PathStyle::macOS,
         "/Users/ada/Library/Logs/Nodwarden.log",
         "/Users/ada/Library/Logs/Stayloom-runs.log",
         "/Users/ada/Library/Application Support/Stayloom/caffeinate.pid",
         "/Users/ada/Library/Application Support/Stayloom/disablesleep.engaged",
         ""},
        {"XDG unset",
         {"/home/ada", std::nullopt},
         PathStyle::xdg,
         "/home/ada/.local/state/stayloom/stayloom.log",
         "/home/ada/.local/state/stayloom/Stayloom-runs.log",
         "/home/ada/.local/state/stayloom/caffeinate.pid",
         "/home/ada/.local/state/stayloom/disablesleep.engaged",
         "/home/ada/.local/state/stayloom/statistics.json"},
        {"XDG set",
         {"/home/ada", "/var/state/ada"},
         PathStyle::xdg,
         "/var/state/ada/stayloom/stayloom.log",
         "/var/state/ada/stayloom/Stayloom-runs.log",
         "/var/state/ada/stayloom/caffeinate.pid",
         "/var/state/ada/stayloom/disablesleep.engaged",
         "/var/state/ada/stayloom/statistics.json"},
        {"XDG empty",
         {"/home/ada", ""},
         PathStyle::xdg,
         "/home/ada/.local/state/stayloom/stayloom.log",
         "/home/ada/.local/state/stayloom/Stayloom-runs.log",
         "/home/ada/.local/state/stayloom/caffeinate.pid",
         "/home/ada/.local/state/stayloom/disablesleep.engaged",
         "/home/ada/.local/state/stayloom/statistics.json"},
        {"XDG relative is ignored",
         {"/home/ada", "state"},
         PathStyle::xdg,
         "/home/ada/.local/state/stayloom/stayloom.log",
         "/home/ada/.local/state/stayloom/Stayloom-runs.log",
         "/home/ada/.local/state/stayloom/caffeinate.pid",
         "/home/ada/.local/state/stayloom/disablesleep.engaged",
         "/home/ada/.local/state/stayloom/statistics.json"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto& env = testCase.environment;
        EXPECT_EQ(PlatformPaths::diagnosticLogPath(env, testCase.style), testCase.log);
        EXPECT_EQ(PlatformPaths::runLedgerPath(env, testCase.style), testCase.ledger);
        EXPECT_EQ(PlatformPaths::keepAwakePidPath(env, testCase.style), testCase.pid);
        EXPECT_EQ(PlatformPaths::lidClosedMarkerPath(env, testCase.style), testCase.marker);
        EXPECT_EQ(PlatformPaths::statisticsPath(env, testCase.style).value_or(""),
                  testCase.statistics);
    }
}

TEST(PlatformPaths, TheEarlierStateFolderAndLogMoveOnceAndTheFolderIsTheOwnersAlone) {
    TemporaryDirectory home;
    const Environment environment{home.path(), (home.path() / "state").string()};
    home.write("state/Stayloom/Nodwarden.log", "an earlier line\n");
    home.write("state/Stayloom/caffeinate.pid", "42\n");
    const auto folder = home.path() / "state" / "stayloom";

    const std::string said = PlatformPaths::prepareStateFolder(environment, PathStyle::xdg);
    EXPECT_NE(said.find("Moved "), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(home.path() / "state" / "Stayloom"));
    EXPECT_EQ(readFile(PlatformPaths::diagnosticLogPath(environment, PathStyle::xdg)),
              "an earlier line\n");
    EXPECT_EQ(readFile(PlatformPaths::keepAwakePidPath(environment, PathStyle::xdg)), "42\n");
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);

    // Once only: an earlier folder made again later (by an earlier version still running) is
    // never merged over the files in use.
    home.write("state/Stayloom/Nodwarden.log", "from the old copy\n");
    EXPECT_EQ(PlatformPaths::prepareStateFolder(environment, PathStyle::xdg), "");
    EXPECT_EQ(readFile(folder / "stayloom.log"), "an earlier line\n");

    // A fresh installation: the folder is made for its owner alone.
    TemporaryDirectory fresh;
    const Environment unset{fresh.path(), std::nullopt};
    EXPECT_EQ(PlatformPaths::prepareStateFolder(unset, PathStyle::xdg), "");
    EXPECT_EQ(std::filesystem::status(fresh.path() / ".local/state/stayloom").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST(PlatformPaths, CurrentEnvironmentReadsTheProcessEnvironment) {
    {
        ScopedEnvironmentVariable home("HOME", "/tmp/someone");
        ScopedEnvironmentVariable state("XDG_STATE_HOME", "/tmp/someone/state");
        EXPECT_EQ(PlatformPaths::currentEnvironment(),
                  (Environment{"/tmp/someone", "/tmp/someone/state"}));
        EXPECT_EQ(PlatformPaths::diagnosticLogPath(),
                  PlatformPaths::diagnosticLogPath(PlatformPaths::currentEnvironment()));
    }
    {
        // Without HOME the account's home folder is used, never a relative path.
        ScopedEnvironmentVariable home("HOME", nullptr);
        ScopedEnvironmentVariable state("XDG_STATE_HOME", nullptr);
        const auto environment = PlatformPaths::currentEnvironment();
        EXPECT_TRUE(environment.home.is_absolute()) << environment.home;
        EXPECT_FALSE(environment.xdgStateHome.has_value());
        EXPECT_TRUE(PlatformPaths::keepAwakePidPath().is_absolute());
    }
}

} // namespace
