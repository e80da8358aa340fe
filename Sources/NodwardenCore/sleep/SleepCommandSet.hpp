#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The platform's commands behind the system sleep switch and the sleep-now request. The logic
/// that runs them is the same everywhere; only this set differs per platform.
struct SleepCommandSet {
    /// Turns system sleep off; run through the administrator runner (may prompt, may be declined).
    ShellCommand engage;
    /// Turns system sleep back on with administrator rights; the first restore attempt.
    ShellCommand adminRestore;
    /// Turns system sleep back on without a prompt; the second restore attempt.
    ShellCommand directRestore;
    /// Prints the power settings listing whose "SleepDisabled" line tells the switch's state.
    ShellCommand readState;
    /// Asks the system to sleep at once.
    ShellCommand sleepNow;

    /// The power-management tool, behind the scripting tool's administrator prompt.
    static SleepCommandSet macOS();

    /// A helper program that takes "disable", "enable", "status" and "suspend", run through
    /// `elevatorPath` (for example pkexec) where administrator rights are needed.
    static SleepCommandSet privilegedHelper(const std::string& elevatorPath,
                                            const std::string& helperPath);

    /// The variables a helper command (and its elevator) is given besides PATH and the locale.
    static std::vector<std::string> helperVariables();

    bool operator==(const SleepCommandSet&) const = default;
};

} // namespace nodwarden
