// The system sleep switch: masks the sleep targets to keep a closed laptop awake, unmasks them to
// restore sleep, reports the state, and asks logind to suspend now.
//
// `disable` and `enable` are run through pkexec, so exit statuses stay clear of pkexec's own
// 126 (dialog dismissed) and 127 (not authorised): 0 success, 1 failure, 2 usage.

#include "BusSupport.hpp"
#include "SleepTargets.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace stayloom::helpers;

constexpr int kFailure = 1;
constexpr int kUsage = 2;

int usage() {
    std::fprintf(stderr, "usage: stayloom-sleep-switch status | disable | enable | suspend\n"
                         "  status   print the sleep switch settings (SleepDisabled 1 or 0)\n"
                         "  disable  mask the sleep targets until the next reboot\n"
                         "  enable   unmask them again\n"
                         "  suspend  ask logind to suspend now\n");
    return kUsage;
}

int printStatus() {
    const auto root = unitLinkRoot();
    std::printf("Sleep switch settings:\n");
    std::printf(" SleepDisabled\t\t%d\n", anySleepTargetMasked(root) ? 1 : 0);
    for (std::string_view unit : kSleepTargetUnits) {
        const std::string_view state = describe(unitMask(root, unit));
        std::printf(" %.*s\t\t%.*s\n", static_cast<int>(unit.size()), unit.data(),
                    static_cast<int>(state.size()), state.data());
    }
    return std::fflush(stdout) == 0 ? 0 : kFailure;
}

bool runsElevated() {
    return std::getenv("PKEXEC_UID") != nullptr || getuid() != geteuid();
}

/// Runs `systemctl <verb> --runtime` over the sleep targets and nothing else. The runtime links
/// vanish at reboot, so a machine can never be left without sleep for good.
bool runSystemctl(const char* verb) {
    if (runsElevated()) {
        // Never look a privileged program up through a path the caller chose.
        setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    }
    std::vector<std::string> arguments{"systemctl", verb, "--runtime"};
    arguments.insert(arguments.end(), kSleepTargetUnits.begin(), kSleepTargetUnits.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    const int spawnError =
        posix_spawnp(&child, "systemctl", nullptr, nullptr, argv.data(), environ);
    if (spawnError != 0) {
        std::fprintf(stderr, "stayloom-sleep-switch: cannot run systemctl: %s\n",
                     std::strerror(spawnError));
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "stayloom-sleep-switch: lost systemctl: %s\n",
                         std::strerror(errno));
            return false;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    if (WIFEXITED(status)) {
        std::fprintf(stderr, "stayloom-sleep-switch: systemctl %s failed with status %d\n", verb,
                     WEXITSTATUS(status));
    } else {
        std::fprintf(stderr, "stayloom-sleep-switch: systemctl %s ended by signal %d\n", verb,
                     WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    return false;
}

/// Switches sleep off or on and succeeds only when the unit links then say so: a switch reported
/// done while sleep is still off (an administrator's own mask in /etc) or still on (a real unit
/// file in /etc hiding the runtime mask) would leave the caller believing the wrong thing.
int switchSleep(bool disable) {
    if (!runSystemctl(disable ? "mask" : "unmask")) {
        return kFailure;
    }
    const auto root = unitLinkRoot();
    std::string wrong;
    for (std::string_view unit : kSleepTargetUnits) {
        const UnitMask mask = unitMask(root, unit);
        if ((mask != UnitMask::none) != disable) {
            wrong += ' ';
            wrong += unit;
            wrong += " (";
            wrong += describe(mask);
            wrong += ')';
        }
    }
    if (!wrong.empty()) {
        std::fprintf(stderr, "stayloom-sleep-switch: sleep is still %s:%s\n",
                     disable ? "possible" : "masked", wrong.c_str());
        return kFailure;
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
        return kFailure;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int code = sd_bus_call_method(bus.get(), kLogindService, kLogindPath, kLogindManager,
                                        "Suspend", &error, nullptr, "b", 0);
    if (code < 0) {
        failure = BusFailure::from(code, &error);
        sd_bus_error_free(&error);
        std::fprintf(stderr, "stayloom-sleep-switch: logind refused to suspend: %s\n",
                     failure.describe().c_str());
        return kFailure;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return usage();
    }
    const std::string_view command = argv[1];
    if (command == "status") {
        return printStatus();
    }
    if (command == "disable" || command == "enable") {
        return switchSleep(command == "disable");
    }
    if (command == "suspend") {
        return suspendNow();
    }
    return usage();
}
