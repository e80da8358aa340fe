#include <NodwardenLinux/HoldReportReader.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;
using stayloom::testing::TemporaryDirectory;

namespace {

/// A process that has ended and been reaped: nothing answers to its pid any more.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

} // namespace

TEST(HoldReportReader, MergesTheReportsOfRunningHelpersAndRemovesThoseOfKilledOnes) {
    TemporaryDirectory root;
    const auto reports = root.path() / "run" / "stayloom";
    std::filesystem::create_directories(reports);
    std::filesystem::permissions(reports, std::filesystem::perms::owner_all);
    const auto report = [&](pid_t pid, const std::string& text) {
        root.write("run/stayloom/inhibit-" + std::to_string(pid) + ".state", text);
    };
    const auto command = [&](pid_t pid, const std::string& comm) {
        root.write("proc/" + std::to_string(pid) + "/comm", comm + "\n");
    };
    // The program's own helper; a line with a word too many, an unknown state or no kind is not
    // a lock.
    command(::getpid(), "stayloom-inhibi");
    report(::getpid(),
           "systemd 252\ndesktop XFCE\n"
           "lock org.freedesktop.login1 sleep held ignored\n"
           "lock org.freedesktop.PowerManagement suspend free ignored\n"
           "lock org.freedesktop.ScreenSaver idle held honoured extra\n"
           "lock x11 idle maybe honoured\n"
           "lock org.gnome.SessionManager\n"
           "warning This desktop's idle tool may suspend despite Stayloom's lock: x.\n");
    // A `stayloom run`'s helper holds the power manager's lock the other could not get.
    command(::getppid(), "stayloom-inhibi");
    report(::getppid(), "lock org.freedesktop.PowerManagement suspend held honoured\n");
    // Killed outright: its report stays behind until read.
    const pid_t killed = endedProcess();
    report(killed, "lock org.freedesktop.login1 sleep:idle held honoured\n");
    // A pid now used by another program: not a helper's, but not ours to remove either.
    command(1, "systemd");
    report(1, "lock org.freedesktop.login1 sleep:idle held honoured\n");
    root.write("run/stayloom/notes.txt", "lock x11 idle held honoured\n");

    KeepAwakeLocks locks = HoldReportReader(root.path() / "run", root.path() / "proc").read();
    std::sort(locks.locks.begin(), locks.locks.end(),
              [](const auto& one, const auto& other) { return one.service < other.service; });
    EXPECT_EQ(locks.locks, (std::vector<KeepAwakeLock>{
                               {"org.freedesktop.PowerManagement", "suspend", true, true},
                               {"org.freedesktop.login1", "sleep", true, false}}));
    EXPECT_EQ(locks.warning, "This desktop's idle tool may suspend despite Stayloom's lock: x.");
    EXPECT_FALSE(
        std::filesystem::exists(reports / ("inhibit-" + std::to_string(killed) + ".state")));
    EXPECT_TRUE(std::filesystem::exists(reports / "inhibit-1.state"));

    // A folder others may write to is not believed.
    std::filesystem::permissions(reports, std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(HoldReportReader(root.path() / "run", root.path() / "proc").read(), KeepAwakeLocks{});
    EXPECT_EQ(HoldReportReader({}, root.path() / "proc").read(), KeepAwakeLocks{});
}
