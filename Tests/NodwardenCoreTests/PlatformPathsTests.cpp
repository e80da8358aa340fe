#include <NodwardenCore/PlatformPaths.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace PlatformPaths = nodwarden::PlatformPaths;
using PlatformPaths::Environment;
using PlatformPaths::PathStyle;

struct PathCase {
    const char* name;
    Environment environment;
    PathStyle style;
    std::string log;
    std::string ledger;
    std::string pid;
    std::string marker;
};

TEST(PlatformPathsTests, PlacesEveryFileByPlatformConvention) {
    const std::vector<PathCase> cases{
        {"macOS ignores XDG",
         {"/Users/ada", "/elsewhere"},
         PathStyle::macOS,
         "/Users/ada/Library/Logs/Nodwarden.log",
         "/Users/ada/Library/Logs/Stayloom-runs.log",
         "/Users/ada/Library/Application Support/Stayloom/caffeinate.pid",
         "/Users/ada/Library/Application Support/Stayloom/disablesleep.engaged"},
        {"XDG unset",
         {"/home/ada", std::nullopt},
         PathStyle::xdg,
         "/home/ada/.local/state/Stayloom/Nodwarden.log",
         "/home/ada/.local/state/Stayloom/Stayloom-runs.log",
         "/home/ada/.local/state/Stayloom/caffeinate.pid",
         "/home/ada/.local/state/Stayloom/disablesleep.engaged"},
        {"XDG set",
         {"/home/ada", "/var/state/ada"},
         PathStyle::xdg,
         "/var/state/ada/Stayloom/Nodwarden.log",
         "/var/state/ada/Stayloom/Stayloom-runs.log",
         "/var/state/ada/Stayloom/caffeinate.pid",
         "/var/state/ada/Stayloom/disablesleep.engaged"},
        {"XDG empty",
         {"/home/ada", ""},
         PathStyle::xdg,
         "/home/ada/.local/state/Stayloom/Nodwarden.log",
         "/home/ada/.local/state/Stayloom/Stayloom-runs.log",
         "/home/ada/.local/state/Stayloom/caffeinate.pid",
         "/home/ada/.local/state/Stayloom/disablesleep.engaged"},
        {"XDG relative is ignored",
         {"/home/ada", "state"},
         PathStyle::xdg,
         "/home/ada/.local/state/Stayloom/Nodwarden.log",
         "/home/ada/.local/state/Stayloom/Stayloom-runs.log",
         "/home/ada/.local/state/Stayloom/caffeinate.pid",
         "/home/ada/.local/state/Stayloom/disablesleep.engaged"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto& env = testCase.environment;
        EXPECT_EQ(PlatformPaths::diagnosticLogPath(env, testCase.style), testCase.log);
        EXPECT_EQ(PlatformPaths::runLedgerPath(env, testCase.style), testCase.ledger);
        EXPECT_EQ(PlatformPaths::keepAwakePidPath(env, testCase.style), testCase.pid);
        EXPECT_EQ(PlatformPaths::lidClosedMarkerPath(env, testCase.style), testCase.marker);
    }
}

class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnvironmentVariable() {
        previous_ ? ::setenv(name_, previous_->c_str(), 1) : ::unsetenv(name_);
    }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> previous_;
};

TEST(PlatformPathsTests, CurrentEnvironmentReadsTheProcessEnvironment) {
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
