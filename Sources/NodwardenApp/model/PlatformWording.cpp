#include <NodwardenApp/model/PlatformWording.hpp>

#include <NodwardenApp/model/SourceLanguage.hpp>

#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/sleep/SleepLogWording.hpp>

#include <QCoreApplication>
#include <cstdlib>
#include <string_view>

namespace nodwarden::app {

namespace {

PlatformWording makeMacOS() {
    PlatformWording w;
    w.legalVersion =
        QString::fromUtf8(Legal::currentVersion.data(), qsizetype(Legal::currentVersion.size()));
    w.legalSubtitle = QStringLiteral(
        "Keeps your Mac awake while your AI coding agents work — then lets it sleep when they're "
        "done.");
    w.privacyParagraph = QStringLiteral(
        "Never opens your files. It looks at process command lines and CPU, at the names and "
        "modification times of your agents' session files, and — only if you grant "
        "Accessibility — at the on-screen text of the agent apps you enable and of the terminals "
        "we support. A command line can include a prompt you passed on it, and on-screen text "
        "includes whatever is visible in that window, your code included: both are matched "
        "against status phrases on your Mac and discarded on the spot, never stored and never "
        "sent. Nothing about your work leaves your Mac. There are no analytics or telemetry of "
        "any kind: the only network use is the update check, which you can turn off in "
        "Settings.");
    w.responsibilityParagraph = QStringLiteral(
        "Preventing sleep can add heat and battery use. Don't run a closed-lid Mac under load in "
        "a bag or enclosed space — you use it at your own risk.");
    w.accessibilityExplanation = QStringLiteral(
        "Stayloom reads window titles and visible on-screen text of the agent apps you enable and "
        "of the terminals it supports, to tell “working” from “done”. Worth knowing what that "
        "covers: the visible text of an editor or terminal window includes your code. It is "
        "matched against short status phrases on your Mac and discarded on the spot — never "
        "stored, never sent, never written to the log. It never opens your files. ");
    w.accessibilityStepTitle = QStringLiteral("Grant Accessibility access");
    w.grantAccessLabel = QStringLiteral("Grant Access…");
    w.accessGranted = QStringLiteral("Access granted");
    w.grantAccessHint = QStringLiteral("macOS will ask you to allow Stayloom.");
    w.detectedResult = QStringLiteral("You're set — your Mac stays awake while agents work.");
    w.openLoginItemsLabel = QStringLiteral("Open Login Items…");
    w.launchApprovalMessage = QStringLiteral(
        "Approve “Stayloom” in System Settings → General → Login Items so it starts on the next "
        "restart.");
    w.launchBlockedPrefix = QStringLiteral("macOS blocked launch at login (");
    w.launchBlockedSuffix =
        QStringLiteral("). This usually clears once the app is signed/notarized.");
    w.launchNotActiveMessage = QStringLiteral(
        "Launch at login isn’t active yet. Try approving it in System Settings → General → Login "
        "Items.");
    w.updatesItself = true;
    w.updatesNote = QStringLiteral("Updates are downloaded from %1 and installed with one click. "
                                   "The check sends no personal data.");
    w.letDisplaySleepHelp = QStringLiteral(
        "On, your screens go dark on their own while Stayloom keeps the Mac itself awake for your "
        "agents — for overnight runs with external monitors you'd rather not leave lit. Off (the "
        "default), the display stays on too.");
    w.lidClosedHelp = QStringLiteral(
        "You don't need to turn this on. Stayloom already keeps your Mac awake for your agents "
        "whenever the lid is open — automatically, and without ever asking for a password. Switch "
        "it on only if you want your agents to keep running with the lid closed; macOS will ask "
        "for your password once.");
    w.lidClosedHeatWarning = QStringLiteral(
        "A closed lid under heavy work with no external cooling can overheat your Mac — don't "
        "leave it running in a bag or a closed space.");
    w.statsEmptyNote = QStringLiteral("Once Stayloom keeps your Mac awake for real agent work "
                                      "with the lid closed, the time saved shows up here.");
    w.statsStoredNote = QStringLiteral("Stats are stored only on this Mac and never leave it.");
    w.emergencyRestoreNote = QStringLiteral(
        "Runs the app restore path for pmset disablesleep 0 and stops the tracked caffeinate "
        "process.");
    w.screenTextBoxTitle = QStringLiteral("Accessibility");
    w.screenTextToggle = QStringLiteral("Use Accessibility text detection");
    w.screenTextOffNote =
        QStringLiteral("Process and CPU checks still run when Accessibility is off.");
    w.screenTextStateLabel = QStringLiteral("Permission");
    w.screenTextAllowed = QStringLiteral("Allowed");
    w.screenTextNotAllowed = QStringLiteral("Not Allowed");
    w.screenTextRequestLabel = QStringLiteral("Request Permission");
    w.networkNote = QStringLiteral(
        "Network activity is intentionally not used in this MVP because per-app network "
        "attribution can be noisy and privacy-sensitive.");
    w.impactEmptyLine = QStringLiteral("Your Mac's work log starts now — keep an agent running.");
    for (const AppMode mode : appModeAllCases()) {
        const std::string_view name = displayName(mode);
        w.modeNames.emplace_back(mode, QString::fromUtf8(name.data(), qsizetype(name.size())));
    }
    w.pickerModes = {{AppMode::watchAgentUI, QStringLiteral("Watch")},
                     {AppMode::manualKeepAwake, QStringLiteral("Awake")},
                     {AppMode::off, QStringLiteral("Off")}};
    w.timedKeepAwakeItems = {{1, QStringLiteral("Keep awake for 1 hour")},
                             {2, QStringLiteral("Keep awake for 2 hours")}};
    w.staleSleepTitle =
        QStringLiteral("Your Mac can't sleep — something left system sleep disabled.");
    w.accessibilityHint = QStringLiteral(
        "Click to grant access — System Settings → Privacy & Security → Accessibility.");
    w.lidClosedWarning = QStringLiteral(
        "Lid-closed protection is NOT active — macOS needs your admin password. Your Mac stays "
        "awake only while the lid is open. Turn “Keep awake with the lid closed” off and on in "
        "Settings, then approve the prompt.");
    w.loginItemsOpened = QStringLiteral("Opened Login Items.");
    w.loginItemsNotOpened = QStringLiteral("Could not open Login Items.");
    w.accessibilitySwitchedOn = QStringLiteral("macOS will ask you to allow Stayloom.");
    w.showsLibraryTexts = true;
    w.protectedCaption = QStringLiteral("truly saved");
    w.protectedTitle = QStringLiteral("Truly saved");
    w.nothingProtectedYet = QStringLiteral("Close the lid on a run to bank your first save");
    return w;
}

} // namespace

// The Linux texts go through the translation system; the macOS ones are kept as written.
PlatformWording PlatformWording::makeLinux() {
    PlatformWording w;
    // 1.8: the privacy text says what a hook hands over (1.7 named the agents' status records
    // and the terminal panes it reads).
    w.legalVersion = QStringLiteral("1.8");
    w.legalSubtitle =
        tr("Keeps this computer awake while your AI coding agents work — then lets it sleep when "
           "they're done.");
    w.privacyParagraph = tr(
        "Never opens your own files. On this computer it reads: the command lines and CPU use of "
        "running programs; the names and modification times of your agents' session files; the "
        "status fields and record kinds — never the messages — of the agents' own status records "
        "(Claude Code's sessions/<pid>.json, Copilot's open-sessions-state.json, the newest Codex "
        "rollout, Gemini's and Qwen's chat records, OpenCode's database); the visible text of "
        "tmux panes; and — only if your desktop's accessibility support is on — the on-screen "
        "text of the agent apps you enable and of the terminals we support. A command line can "
        "include a prompt you passed on it, and pane and on-screen text include whatever is "
        "visible, your code included: all of it is matched against status phrases on this "
        "computer and discarded on the spot, never stored and never sent. Nothing about your work "
        "leaves this computer. There are no analytics or telemetry of any kind, and this build "
        "makes no network connections at all.");
    w.responsibilityParagraph =
        tr("Preventing sleep can add heat and battery use. Don't run a closed laptop under load in "
           "a bag or enclosed space — you use it at your own risk.");
    w.accessibilityExplanation = tr(
        "Stayloom reads window titles and visible on-screen text of the agent apps you enable and "
        "of the terminals it supports, to tell “working” from “done”. Worth knowing what that "
        "covers: the visible text of an editor or terminal window includes your code. It is "
        "matched against short status phrases on this computer and discarded on the spot — never "
        "stored, never sent, never written to the log. It never opens your files. ");
    w.accessibilityStepTitle = tr("Turn on screen-text reading");
    w.grantAccessLabel = tr("Turn On…");
    w.accessGranted = tr("Screen-text reading is on");
    w.grantAccessHint =
        tr("Stayloom switches on your desktop's accessibility support and opens its settings where "
           "it can.");
    w.detectedResult = tr("You're set — this computer stays awake while agents work.");
    w.openLoginItemsLabel = tr("Open Autostart Folder…");
    w.launchApprovalMessage =
        tr("Allow “Stayloom” in your desktop's startup applications so it starts at your next "
           "login.");
    w.launchBlockedPrefix = tr("The autostart entry could not be written (");
    w.launchBlockedSuffix = tr("). Check that ~/.config/autostart exists and is yours to write.");
    w.launchNotActiveMessage =
        tr("Launch at login isn’t active yet. Check the Stayloom entry in your desktop's startup "
           "applications (~/.config/autostart).");
    w.letDisplaySleepHelp = tr(
        "On, your screens go dark on their own while Stayloom keeps the computer itself awake for "
        "your agents — for overnight runs with external monitors you'd rather not leave lit. Off "
        "(the default), the display stays on too.");
    // Xfce's power manager has one inhibitor for both: whoever holds off its suspend keeps its
    // display on as well.
    if (const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
        desktop != nullptr && std::string_view(desktop).find("XFCE") != std::string_view::npos) {
        w.letDisplaySleepHelp +=
            u' ' + tr("On Xfce this setting has no effect: its power manager keeps the display on "
                      "whenever it keeps the computer awake.");
    }
    w.lidClosedHelp =
        tr("You don't need to turn this on. Stayloom already keeps this computer awake for your "
           "agents whenever the lid is open — automatically, and without ever asking for a "
           "password. Switch it on only if you want your agents to keep running with the lid "
           "closed; your system will ask for your password once.");
    w.lidClosedHeatWarning =
        tr("A closed lid under heavy work with no external cooling can overheat this computer — "
           "don't leave it running in a bag or a closed space.");
    w.statsEmptyNote = tr("Once Stayloom keeps this computer awake for real agent "
                          "work with the lid closed, the time saved shows up here.");
    w.statsStoredNote = tr("Stats are stored only on this computer and never leave it.");
    w.emergencyRestoreNote =
        tr("Turns the sleep switch back on (stayloom-sleep-switch enable) and stops the keep-awake "
           "helper.");
    w.screenTextBoxTitle = tr("Screen-Text Reading");
    w.screenTextToggle = tr("Read the on-screen text of agent apps and terminals");
    w.screenTextOffNote = tr("Process and CPU checks still run when screen-text reading is off.");
    w.screenTextStateLabel = tr("Desktop accessibility support");
    w.screenTextAllowed = tr("On");
    w.screenTextNotAllowed = tr("Off");
    w.screenTextRequestLabel = tr("Turn On Screen-Text Reading");
    w.networkNote =
        tr("Network activity is not used: which program sends what is hard to tell apart reliably, "
           "and watching it would intrude on your privacy.");
    w.impactEmptyLine = tr("This computer's work log starts now — keep an agent running.");
    w.staleSleepTitle = tr("This computer can't sleep — something left system sleep disabled.");
    w.accessibilityHint =
        tr("Click to turn on screen-text reading (your desktop's accessibility support).");
    w.lidClosedWarning =
        tr("Lid-closed protection is NOT active — the sleep switch needs your admin password. This "
           "computer stays awake only while the lid is open. Turn “Keep awake with the lid closed” "
           "off and on in Settings, then approve the prompt.");
    w.loginItemsOpened =
        tr("Opened your autostart folder (%1). Stayloom starts at login from its entry there; "
           "“Launch at login” adds or removes it.");
    w.loginItemsNotOpened =
        tr("No program on this desktop could open %1. Stayloom starts at login from its entry in "
           "that folder; “Launch at login” adds or removes it.");
    w.accessibilitySwitchedOn =
        tr("Stayloom switched on the desktop's accessibility support. This desktop has no settings "
           "page Stayloom can open: if agent apps still show no text, turn on “Assistive "
           "Technologies” (or “Accessibility”) in your desktop's settings and restart those apps.");
    // The command line's words (`stayloom mode sleep-after`), spelled out, in its order.
    w.modeNames = {{AppMode::watchAgentUI, tr("Watch")},
                   {AppMode::manualKeepAwake, tr("Manual")},
                   {AppMode::sleepAfterCurrentWork, tr("Sleep after work")},
                   {AppMode::pluggedInUnlimited, tr("Unlimited")},
                   {AppMode::off, tr("Off")}};
    w.pickerModes = {{AppMode::watchAgentUI, tr("Watch")},
                     {AppMode::manualKeepAwake, tr("Manual")},
                     {AppMode::off, tr("Off")}};
    w.timedKeepAwakeItems = {{1, tr("Keep awake for 1 hour")}, {2, tr("Keep awake for 2 hours")}};
    w.protectedCaption = tr("protected");
    w.protectedTitle = tr("Protected");
    w.nothingProtectedYet = tr("Nothing protected yet — close the lid during a run to count one");
    w.statisticsInWords = true;
    w.sleepLog = &SleepLogWording::linuxHelper();
    return w;
}

QString PlatformWording::modeName(AppMode mode) const {
    for (const auto& [named, name] : modeNames) {
        if (named == mode) {
            return name;
        }
    }
    return {};
}

const PlatformWording& PlatformWording::macOS() {
    static const PlatformWording wording = makeMacOS();
    return wording;
}

const PlatformWording& PlatformWording::linuxDesktop() {
    static const PlatformWording wording = makeLinux();
    return wording;
}

const PlatformWording& PlatformWording::inSourceLanguageOf(const PlatformWording& wording) {
    if (wording.showsLibraryTexts) {
        return wording;
    }
    static const PlatformWording linuxInEnglish = inSourceLanguage([] { return makeLinux(); });
    return linuxInEnglish;
}

const PlatformWording& PlatformWording::current() {
#if defined(__APPLE__)
    return macOS();
#else
    return linuxDesktop();
#endif
}

} // namespace nodwarden::app
