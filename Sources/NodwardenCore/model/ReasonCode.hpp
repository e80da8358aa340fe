#pragma once

#include <NodwardenCore/Export.hpp>

#include <optional>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Why a decision was taken or a signal was given, beside its sentence: the sentence is the
/// library's English, the code is what a program turns into its own (or its user's) words. The
/// raw values are a stable interface (a stored signal's `reasonCode`).
enum class ReasonCode {
    /// A text that came from outside the program (a stored signal of an older version).
    unspecified,

    // The state machine's decisions.
    modeOff,
    batteryLevelUnknown,
    batteryAtCutoff,
    thermalCritical,
    manualKeepAwake,
    pluggedInUnlimited,
    idleGrace,
    agentOpenNotWorking,
    noActiveSignal,

    // Why an agent's signal says what it says; the agent is the signal's `appName`.
    cpuAboveThreshold,
    processRunning,
    /// The detail is the age of the newest session file in whole seconds.
    sessionFileFresh,
    /// The detail is the phrase that matched.
    screenActivePhrase,
    screenIdlePhrase,
    recordSaysWorking,
    recordSaysIdle,
    screenShowsWorking,
    screenShowsIdle,
    chatAwaitsReply,
    chatEndsWithReply,
    oneShotRun,
    justStarted,
    holdsSleepLock,
    hookSaysWorking,
    hookSaysIdle,
    waitingForAnswer,
    toolRunning,
    /// The agent is the one whose turn left the busy process running.
    leftBehindBusy,
    /// The agent runs where its files cannot be read (another mount namespace, a container).
    outOfReach,
};

std::string_view rawValue(ReasonCode code);
std::optional<ReasonCode> reasonCodeFromRawValue(std::string_view raw);

} // namespace nodwarden
