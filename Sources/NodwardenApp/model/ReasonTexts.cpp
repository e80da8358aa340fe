#include <NodwardenApp/model/ReasonTexts.hpp>

#include <NodwardenApp/model/PlatformWording.hpp>

namespace nodwarden::app {

namespace {

QString utf8(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

QString ReasonTexts::decision(const GuardDecision& decision, const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        return utf8(decision.reason);
    }
    switch (decision.reasonCode) {
    case ReasonCode::modeOff:
        return tr("Stayloom is off");
    case ReasonCode::batteryLevelUnknown:
        return tr("Battery level unavailable — releasing keep-awake to protect the battery");
    case ReasonCode::batteryAtCutoff:
        return tr("The battery is at or below its cutoff");
    case ReasonCode::thermalCritical:
        return tr("Thermal pressure is critical — releasing keep-awake so this computer can cool "
                  "down");
    case ReasonCode::manualKeepAwake:
        return tr("Manual: kept awake until you change the mode");
    case ReasonCode::pluggedInUnlimited:
        return tr("Unlimited: plugged in, kept awake without limit");
    case ReasonCode::idleGrace:
        return tr("The agents stopped; waiting a moment before letting this computer sleep");
    case ReasonCode::agentOpenNotWorking:
        return tr("An agent is open but not working");
    case ReasonCode::noActiveSignal:
        return tr("No agent is working");
    default:
        return signalReason(decision.reasonCode, utf8(decision.detectedAppName.value_or("")),
                            utf8(decision.reasonDetail), utf8(decision.reason));
    }
}

QString ReasonTexts::signal(const ActivitySignal& signal, const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        return utf8(signal.reason);
    }
    if (signal.reasonCode == ReasonCode::noActiveSignal) {
        return tr("No agent is working");
    }
    return signalReason(signal.reasonCode, utf8(signal.appName.value_or("")),
                        utf8(signal.reasonDetail), utf8(signal.reason));
}

QString ReasonTexts::signalReason(ReasonCode code, const QString& agent, const QString& detail,
                                  const QString& libraryText) {
    switch (code) {
    case ReasonCode::cpuAboveThreshold:
        return tr("%1 CPU is above the work threshold").arg(agent);
    case ReasonCode::processRunning:
        return tr("%1 is running").arg(agent);
    case ReasonCode::sessionFileFresh:
        return tr("%1 session active (%2s ago)").arg(agent, detail);
    case ReasonCode::screenActivePhrase:
        return tr("Screen text matched the working phrase “%1”").arg(detail);
    case ReasonCode::screenIdlePhrase:
        return tr("Screen text matched the idle phrase “%1”").arg(detail);
    case ReasonCode::recordSaysWorking:
        return tr("%1 reports it is working").arg(agent);
    case ReasonCode::recordSaysIdle:
        return tr("%1 reports it is idle").arg(agent);
    case ReasonCode::screenShowsWorking:
        return tr("%1 shows it is working").arg(agent);
    case ReasonCode::screenShowsIdle:
        return tr("%1 shows it is idle").arg(agent);
    case ReasonCode::chatAwaitsReply:
        return tr("%1's chat awaits a reply").arg(agent);
    case ReasonCode::chatEndsWithReply:
        return tr("%1's chat ends with a reply").arg(agent);
    case ReasonCode::oneShotRun:
        return tr("%1 runs a one-shot prompt").arg(agent);
    case ReasonCode::justStarted:
        return tr("%1 has just started and has had no turn yet").arg(agent);
    case ReasonCode::holdsSleepLock:
        return tr("%1 holds a lock against sleep").arg(agent);
    case ReasonCode::hookSaysWorking:
        return tr("%1 says it is working").arg(agent);
    case ReasonCode::hookSaysIdle:
        return tr("%1 says it is idle").arg(agent);
    case ReasonCode::waitingForAnswer:
        return tr("%1 is waiting for your answer").arg(agent);
    case ReasonCode::toolRunning:
        return tr("%1 runs a command through its tool").arg(agent);
    case ReasonCode::leftBehindBusy:
        return tr("A process %1 left running is busy").arg(agent);
    case ReasonCode::outOfReach:
        return tr("%1 runs where Stayloom may not read its files: only its CPU can speak")
            .arg(agent);
    default:
        // A sentence from outside the program (a signal stored by an older version) has no
        // code to speak from.
        return libraryText;
    }
}

std::optional<QString> ReasonTexts::accessibilityWarning(const std::vector<AgentProfile>& running,
                                                         bool accessibilityTrusted,
                                                         const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        const auto text = AccessibilityNotice::panelWarning(running, accessibilityTrusted);
        return text ? std::optional<QString>(utf8(*text)) : std::nullopt;
    }
    const std::vector<std::string> names = AccessibilityNotice::uiTextOnlyNames(running);
    if (accessibilityTrusted || names.empty()) {
        return std::nullopt;
    }
    if (names.size() == 1) {
        return tr("Screen-text reading is off — Stayloom cannot tell when %1 is working, so it "
                  "will not keep this computer awake for it.")
            .arg(shortList(names));
    }
    return tr("Screen-text reading is off — Stayloom cannot tell when %1 are working, so it will "
              "not keep this computer awake for them.")
        .arg(shortList(names));
}

QString ReasonTexts::onboardingNote(const std::vector<AgentProfile>& watched,
                                    const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        return utf8(AccessibilityNotice::onboardingNote(watched));
    }
    const std::vector<std::string> names = AccessibilityNotice::uiTextOnlyNames(watched);
    switch (AccessibilityNotice::onboardingNoteCase(watched)) {
    case AccessibilityNotice::OnboardingNoteCase::optional:
        return tr("Optional: your watched agents are detected without it.");
    case AccessibilityNotice::OnboardingNoteCase::requiredForAll:
        if (names.size() == 1) {
            return tr("Required for your agents: without it, Stayloom cannot tell when %1 is "
                      "working, so it will not keep this computer awake.")
                .arg(shortList(names));
        }
        return tr("Required for your agents: without it, Stayloom cannot tell when %1 are "
                  "working, so it will not keep this computer awake.")
            .arg(shortList(names));
    case AccessibilityNotice::OnboardingNoteCase::neededForSome:
        break;
    }
    return tr("Needed for %1: without it, their work cannot be seen. Your other agents are still "
              "detected without it.")
        .arg(shortList(names));
}

Onboarding::DetectionHeadline
ReasonTexts::detectionHeadline(SignalStrength strength, const std::optional<std::string>& appName,
                               const PlatformWording& wording) {
    Onboarding::DetectionHeadline headline = Onboarding::detectionHeadline(strength, appName);
    if (wording.showsLibraryTexts) {
        return headline;
    }
    const QString name = utf8(appName.value_or(""));
    if (!headline.detected) {
        headline.text = tr("No agents detected yet").toStdString();
    } else if (strength == SignalStrength::presence) {
        headline.text = tr("Watching — %1 detected").arg(name).toStdString();
    } else {
        headline.text = tr("Watching — %1 is working").arg(name).toStdString();
    }
    return headline;
}

QString ReasonTexts::statusName(GuardStatus status, const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        const std::string_view name = displayName(status);
        return QString::fromUtf8(name.data(), qsizetype(name.size()));
    }
    switch (status) {
    case GuardStatus::off:
        return tr("Off");
    case GuardStatus::watching:
        return tr("Watching");
    case GuardStatus::keepingAwake:
        return tr("Keeping Awake");
    case GuardStatus::idleGrace:
        return tr("Idle Grace");
    case GuardStatus::batterySafety:
        return tr("Battery Safety");
    case GuardStatus::thermalSafety:
        return tr("Thermal Safety");
    case GuardStatus::pluggedInUnlimited:
        return tr("Plugged In Unlimited");
    }
    return tr("Off");
}

QString ReasonTexts::lidName(LidState lid, const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        const std::string_view name = displayName(lid);
        return QString::fromUtf8(name.data(), qsizetype(name.size()));
    }
    switch (lid) {
    case LidState::open:
        return tr("Open");
    case LidState::closed:
        return tr("Closed");
    case LidState::unknown:
        break;
    }
    return tr("Unknown");
}

QString ReasonTexts::powerDescription(const PowerSnapshot& power, const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        return utf8(power.displayName());
    }
    const QString charge =
        power.batteryPercent ? tr("%1%").arg(*power.batteryPercent) : tr("Battery unknown");
    return power.isOnACPower ? tr("%1, AC Power").arg(charge) : tr("%1, Battery").arg(charge);
}

QString ReasonTexts::agentState(const std::string& state) {
    if (state == "working") {
        return tr("working");
    }
    if (state == "probably working") {
        return tr("probably working");
    }
    if (state == "grace") {
        return tr("grace");
    }
    if (state == "idle") {
        return tr("idle");
    }
    if (state == "waiting for you" || state == "waiting") {
        return tr("waiting for you");
    }
    return utf8(state);
}

QString ReasonTexts::shortList(const std::vector<std::string>& names) {
    switch (names.size()) {
    case 0:
        return {};
    case 1:
        return utf8(names[0]);
    case 2:
        return tr("%1 and %2").arg(utf8(names[0]), utf8(names[1]));
    case 3:
        return tr("%1, %2 and %3").arg(utf8(names[0]), utf8(names[1]), utf8(names[2]));
    default:
        return tr("%1, %2 and %3 more")
            .arg(utf8(names[0]), utf8(names[1]), QString::number(names.size() - 2));
    }
}

} // namespace nodwarden::app
