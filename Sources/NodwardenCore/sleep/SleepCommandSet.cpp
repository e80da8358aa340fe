#include <NodwardenCore/sleep/SleepCommandSet.hpp>

namespace nodwarden {

namespace {

constexpr const char* powerTool = "/usr/bin/pmset";
constexpr const char* scriptingTool = "/usr/bin/osascript";

/// An administrator-privileges shell statement for the scripting tool, showing `prompt`.
ShellCommand administratorStatement(const std::string& shellCommand, const std::string& prompt) {
    return ShellCommand{scriptingTool,
                        {"-e", "do shell script \"" + shellCommand + "\" with prompt \"" + prompt +
                                   "\" with administrator privileges"}};
}

} // namespace

SleepCommandSet SleepCommandSet::macOS() {
    return SleepCommandSet{
        .engage = administratorStatement(
            "pmset -a disablesleep 1",
            "Stayloom is turning on the lid-closed power setting (pmset disablesleep 1) so the Mac "
            "can stay awake with the lid closed. It is restored when lid-closed mode ends."),
        .adminRestore = administratorStatement(
            "pmset -a disablesleep 0",
            "Stayloom is restoring the normal sleep setting (pmset disablesleep 0)."),
        .directRestore = ShellCommand{powerTool, {"-a", "disablesleep", "0"}},
        .readState = ShellCommand{powerTool, {"-g"}},
        .sleepNow = ShellCommand{powerTool, {"sleepnow"}},
    };
}

SleepCommandSet SleepCommandSet::privilegedHelper(const std::string& elevatorPath,
                                                  const std::string& helperPath) {
    // The helper asks logind on the system bus; the unit root is honoured only while it runs
    // without administrator rights, where it can change nothing a user could not, and the elevator
    // drops it.
    const std::vector<std::string> passed = helperVariables();
    return SleepCommandSet{
        .engage = ShellCommand{elevatorPath, {helperPath, "disable"}, passed},
        .adminRestore = ShellCommand{elevatorPath, {helperPath, "enable"}, passed},
        .directRestore = ShellCommand{helperPath, {"enable"}, passed},
        .readState = ShellCommand{helperPath, {"status"}, passed},
        .sleepNow = ShellCommand{helperPath, {"suspend"}, passed},
    };
}

std::vector<std::string> SleepCommandSet::helperVariables() {
    return {"DBUS_SYSTEM_BUS_ADDRESS", "STAYLOOM_UNIT_ROOT"};
}

} // namespace nodwarden
