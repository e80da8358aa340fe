// The system sleep switch: masks the sleep targets to keep a closed laptop awake, unmasks them to
// restore sleep, reports the state, and asks logind to suspend now.
//
// `disable` and `enable` are run through pkexec, so exit statuses stay clear of pkexec's own
// 126 (dialog dismissed) and 127 (not authorised): 0 success, 1 failure, 2 usage.

#include "BusSupport.hpp"
#include "SleepTargets.hpp"

#include <NodwardenCore/system/ChildEnvironment.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace stayloom::helpers;

constexpr int failureStatus = 1;
constexpr int usageStatus = 2;
constexpr const char* systemctlPath = "/usr/bin/systemctl";

int usage() {
    std::fprintf(stderr, "usage: stayloom-sleep-switch status | disable | enable | suspend\n"
                         "  status   print the sleep switch settings (SleepDisabled 1 or 0)\n"
                         "  disable  mask the sleep targets until the next reboot\n"
                         "  enable   unmask the ones it masked again\n"
                         "  suspend  ask logind to suspend now\n");
    return usageStatus;
}

void complain(const std::string& line) {
    std::fprintf(stderr, "stayloom-sleep-switch: %s\n", line.c_str());
}

bool contains(const std::vector<std::string>& units, std::string_view unit) {
    return std::find(units.begin(), units.end(), unit) != units.end();
}

std::string joined(const std::vector<std::string>& units) {
    std::string text;
    for (const auto& unit : units) {
        text += ' ' + unit;
    }
    return text;
}

/// "SleepDisabled 1" means exactly that masks this switch made are in place: an administrator's
/// own masks are listed but never make the switch read as off, since it could not undo them.
int printStatus(const std::filesystem::path& root) {
    const auto record = readOwnMaskRecord(root);
    if (!record.refusal.empty()) {
        complain(record.refusal);
        return failureStatus;
    }
    const auto own = ownMasksInPlace(root, record);
    std::printf("Sleep switch settings:\n");
    std::printf(" SleepDisabled\t\t%d\n", own.empty() ? 0 : 1);
    for (std::string_view unit : sleepTargetUnits) {
        const std::string_view state = describe(unitMask(root, unit));
        std::printf(" %.*s\t\t%.*s%s\n", static_cast<int>(unit.size()), unit.data(),
                    static_cast<int>(state.size()), state.data(),
                    contains(own, unit) ? " by this switch" : "");
    }
    return std::fflush(stdout) == 0 ? 0 : failureStatus;
}

bool runsElevated() {
    return std::getenv("PKEXEC_UID") != nullptr || getuid() != geteuid();
}

/// With administrator rights nothing of the caller's environment is kept: no search path, bus
/// address, locale or test root it chose can steer what runs as root.
void reduceEnvironment() {
    ::clearenv();
    ::setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    ::setenv("LC_ALL", "C", 1);
}

/// Runs `systemctl <verb> --runtime` over `units`, all of them sleep targets. The runtime links
/// vanish at reboot, so a machine can never be left without sleep for good. With administrator
/// rights the program is the system's own by its absolute path; without, it is looked up on the
/// search path, where it can do nothing a user could not do anyway.
bool runSystemctl(const char* verb, const std::vector<std::string>& units, bool elevated) {
    // Never a password question of systemd's own: the only prompt is the one for this switch.
    std::vector<std::string> arguments{"systemctl", verb, "--runtime", "--no-ask-password"};
    arguments.insert(arguments.end(), units.begin(), units.end());
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    // systemctl reaches the service manager on the system bus; the unit root is there only without
    // administrator rights, where the caller's environment has not been dropped.
    nodwarden::ChildEnvironment environment({"DBUS_SYSTEM_BUS_ADDRESS", "STAYLOOM_UNIT_ROOT"});
    pid_t child = 0;
    const int spawnError =
        elevated
            ? posix_spawn(&child, systemctlPath, nullptr, nullptr, argv.data(), environment.data())
            : posix_spawnp(&child, "systemctl", nullptr, nullptr, argv.data(), environment.data());
    if (spawnError != 0) {
        complain(std::string("cannot run systemctl: ") + std::strerror(spawnError));
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            complain(std::string("lost systemctl: ") + std::strerror(errno));
            return false;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    if (WIFEXITED(status)) {
        complain(std::string("systemctl ") + verb + " failed with status " +
                 std::to_string(WEXITSTATUS(status)));
    } else {
        complain(std::string("systemctl ") + verb + " ended by signal " +
                 std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0));
    }
    return false;
}

/// Masks every sleep target that nothing masks yet and records those as its own, then succeeds
/// only when every target reads masked. Targets masked by someone else are left alone: sleep is
/// off for them already, and they are not this switch's to undo. On failure the masks it just
/// made are taken back, so a declined switch leaves nothing behind.
int switchSleepOff(const std::filesystem::path& root, bool elevated) {
    const auto record = readOwnMaskRecord(root);
    if (!record.refusal.empty()) {
        complain(record.refusal);
        return failureStatus;
    }
    const auto own = ownMasksInPlace(root, record);
    std::vector<std::string> adding;
    for (std::string_view unit : sleepTargetUnits) {
        // A runtime link hidden by a unit file in /etc cannot be made to count by masking again.
        if (unitMask(root, unit) == UnitMask::none && !hasRuntimeMaskLink(root, unit)) {
            adding.emplace_back(unit);
        }
    }
    auto recorded = own;
    recorded.insert(recorded.end(), adding.begin(), adding.end());
    std::string error;
    // Recorded before masking: a crash in between leaves a record naming a unit without a mask,
    // which reads as not in place, never a mask nobody owns.
    if (!writeOwnMaskRecord(root, recorded, error)) {
        complain(error);
        return failureStatus;
    }
    const auto takeBack = [&] {
        const auto made = ownMasksInPlace(root, readOwnMaskRecord(root));
        std::vector<std::string> undo;
        for (const auto& unit : adding) {
            if (contains(made, unit)) {
                undo.push_back(unit);
            }
        }
        if (!undo.empty()) {
            runSystemctl("unmask", undo, elevated);
        }
        std::string ignored;
        writeOwnMaskRecord(root, own, ignored);
    };
    if (!adding.empty() && !runSystemctl("mask", adding, elevated)) {
        takeBack();
        return failureStatus;
    }
    std::vector<std::string> stillPossible;
    for (std::string_view unit : sleepTargetUnits) {
        if (unitMask(root, unit) == UnitMask::none) {
            stillPossible.emplace_back(unit);
        }
    }
    if (!stillPossible.empty()) {
        complain("sleep is still possible:" + joined(stillPossible));
        takeBack();
        return failureStatus;
    }
    return 0;
}

/// Unmasks exactly the masks this switch made and forgets them; anyone else's stay. Success means
/// the record is gone and nothing it named is still masked. Without any record there is nothing to
/// tell the switch's masks from an administrator's: a sleep target still masked for this boot is
/// then reported, never passed over as restored, for the record may have been taken away.
int switchSleepOn(const std::filesystem::path& root, bool elevated) {
    const auto record = readOwnMaskRecord(root);
    if (!record.refusal.empty()) {
        complain(record.refusal);
        return failureStatus;
    }
    const auto own = ownMasksInPlace(root, record);
    if (!own.empty() && !runSystemctl("unmask", own, elevated)) {
        return failureStatus;
    }
    const auto after = readOwnMaskRecord(root);
    if (!after.refusal.empty()) {
        complain(after.refusal);
        return failureStatus;
    }
    const auto left = ownMasksInPlace(root, after);
    if (!left.empty()) {
        complain("sleep is still masked:" + joined(left));
        return failureStatus;
    }
    if (!record.present) {
        std::vector<std::string> unaccounted;
        for (std::string_view unit : sleepTargetUnits) {
            if (unitMask(root, unit) == UnitMask::runtime) {
                unaccounted.emplace_back(unit);
            }
        }
        if (!unaccounted.empty()) {
            complain("sleep is still masked:" + joined(unaccounted) + " (no record of " +
                     ownMaskRecordPath(root).string() + " tells whose masks they are)");
            return failureStatus;
        }
    }
    std::string error;
    if (after.present && !writeOwnMaskRecord(root, {}, error)) {
        complain(error);
        return failureStatus;
    }
    return 0;
}

/// Asks logind directly: `systemctl suspend` off a terminal skips the inhibitor check and may
/// need administrator rights.
int suspendNow() {
    BusFailure failure;
    Bus bus = openSystemBus(failure);
    if (!bus) {
        std::fprintf(stderr, "stayloom-sleep-switch: no system bus: %s\n",
                     failure.describe().c_str());
        return failureStatus;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int code = sd_bus_call_method(bus.get(), logindService, logindPath, logindManager,
                                        "Suspend", &error, nullptr, "b", 0);
    if (code < 0) {
        failure = BusFailure::from(code, &error);
        sd_bus_error_free(&error);
        std::fprintf(stderr, "stayloom-sleep-switch: logind refused to suspend: %s\n",
                     failure.describe().c_str());
        return failureStatus;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // pkexec hands over the caller's umask: a folder or record made with it could be left open to
    // every user.
    ::umask(022);
    if (argc != 2) {
        return usage();
    }
    const bool elevated = runsElevated();
    if (elevated) {
        reduceEnvironment();
    }
    const auto root = unitLinkRoot();
    const std::string_view command = argv[1];
    if (command == "status") {
        return printStatus(root);
    }
    if (command == "disable") {
        return switchSleepOff(root, elevated);
    }
    if (command == "enable") {
        return switchSleepOn(root, elevated);
    }
    if (command == "suspend") {
        return suspendNow();
    }
    return usage();
}
