#include <NodwardenCore/model/ReasonCode.hpp>

#include <NodwardenCore/model/RawValueCases.hpp>

#include <array>

namespace nodwarden {

namespace {

constexpr std::array<ReasonCode, 30> reasonCodes{
    ReasonCode::unspecified,         ReasonCode::modeOff,
    ReasonCode::batteryLevelUnknown, ReasonCode::batteryAtCutoff,
    ReasonCode::thermalCritical,     ReasonCode::manualKeepAwake,
    ReasonCode::pluggedInUnlimited,  ReasonCode::idleGrace,
    ReasonCode::agentOpenNotWorking, ReasonCode::noActiveSignal,
    ReasonCode::cpuAboveThreshold,   ReasonCode::processRunning,
    ReasonCode::sessionFileFresh,    ReasonCode::screenActivePhrase,
    ReasonCode::screenIdlePhrase,    ReasonCode::recordSaysWorking,
    ReasonCode::recordSaysIdle,      ReasonCode::screenShowsWorking,
    ReasonCode::screenShowsIdle,     ReasonCode::chatAwaitsReply,
    ReasonCode::chatEndsWithReply,   ReasonCode::oneShotRun,
    ReasonCode::justStarted,         ReasonCode::holdsSleepLock,
    ReasonCode::hookSaysWorking,     ReasonCode::hookSaysIdle,
    ReasonCode::waitingForAnswer,    ReasonCode::toolRunning,
    ReasonCode::leftBehindBusy,      ReasonCode::outOfReach,
};

} // namespace

std::string_view rawValue(ReasonCode code) {
    switch (code) {
    case ReasonCode::unspecified:
        return "unspecified";
    case ReasonCode::modeOff:
        return "modeOff";
    case ReasonCode::batteryLevelUnknown:
        return "batteryLevelUnknown";
    case ReasonCode::batteryAtCutoff:
        return "batteryAtCutoff";
    case ReasonCode::thermalCritical:
        return "thermalCritical";
    case ReasonCode::manualKeepAwake:
        return "manualKeepAwake";
    case ReasonCode::pluggedInUnlimited:
        return "pluggedInUnlimited";
    case ReasonCode::idleGrace:
        return "idleGrace";
    case ReasonCode::agentOpenNotWorking:
        return "agentOpenNotWorking";
    case ReasonCode::noActiveSignal:
        return "noActiveSignal";
    case ReasonCode::cpuAboveThreshold:
        return "cpuAboveThreshold";
    case ReasonCode::processRunning:
        return "processRunning";
    case ReasonCode::sessionFileFresh:
        return "sessionFileFresh";
    case ReasonCode::screenActivePhrase:
        return "screenActivePhrase";
    case ReasonCode::screenIdlePhrase:
        return "screenIdlePhrase";
    case ReasonCode::recordSaysWorking:
        return "recordSaysWorking";
    case ReasonCode::recordSaysIdle:
        return "recordSaysIdle";
    case ReasonCode::screenShowsWorking:
        return "screenShowsWorking";
    case ReasonCode::screenShowsIdle:
        return "screenShowsIdle";
    case ReasonCode::chatAwaitsReply:
        return "chatAwaitsReply";
    case ReasonCode::chatEndsWithReply:
        return "chatEndsWithReply";
    case ReasonCode::oneShotRun:
        return "oneShotRun";
    case ReasonCode::justStarted:
        return "justStarted";
    case ReasonCode::holdsSleepLock:
        return "holdsSleepLock";
    case ReasonCode::hookSaysWorking:
        return "hookSaysWorking";
    case ReasonCode::hookSaysIdle:
        return "hookSaysIdle";
    case ReasonCode::waitingForAnswer:
        return "waitingForAnswer";
    case ReasonCode::toolRunning:
        return "toolRunning";
    case ReasonCode::leftBehindBusy:
        return "leftBehindBusy";
    case ReasonCode::outOfReach:
        return "outOfReach";
    }
    return "unspecified";
}

std::optional<ReasonCode> reasonCodeFromRawValue(std::string_view raw) {
    return caseForRawValue(reasonCodes, raw);
}

} // namespace nodwarden
