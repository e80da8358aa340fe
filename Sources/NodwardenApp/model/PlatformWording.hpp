#pragma once

#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/sleep/SleepLogWording.hpp>

#include <QString>

#include <string>
#include <utility>
#include <vector>

namespace nodwarden::app {

/// Every shown text that names the machine or the platform's way of doing something: one
/// instance per platform, chosen once at start, so views never branch on the platform.
struct PlatformWording {
    /// The terms and privacy texts' version; a changed text has a new version, so a user who
    /// accepted the old one is asked again.
    QString legalVersion;

    // MARK: Terms window
    QString legalSubtitle;
    /// The privacy paragraph: what is read, and that nothing leaves the machine.
    QString privacyParagraph;
    QString responsibilityParagraph;

    // MARK: First-run window
    QString accessibilityExplanation;
    /// The step that asks for screen-text reading: its title, its button and what it shows once
    /// the program may read on-screen text.
    QString accessibilityStepTitle;
    QString grantAccessLabel;
    QString accessGranted;
    QString grantAccessHint;
    QString detectedResult;

    // MARK: Launch at login (settings window, first-run window)
    QString openLoginItemsLabel;
    QString launchApprovalMessage;
    /// Put around the platform's own description of the refusal.
    QString launchBlockedPrefix;
    QString launchBlockedSuffix;
    QString launchNotActiveMessage;

    // MARK: Settings window
    /// Whether the platform's builds update themselves; otherwise the system's packages do, and
    /// the settings show no update controls.
    bool updatesItself = false;
    /// "%1" is the host updates come from.
    QString updatesNote;
    QString letDisplaySleepHelp;
    QString lidClosedHelp;
    QString lidClosedHeatWarning;
    QString statsEmptyNote;
    QString statsStoredNote;
    QString emergencyRestoreNote;
    /// The Detection tab's screen-text box: title, switch, note, the state row with its two
    /// values, and the button that asks for it.
    QString screenTextBoxTitle;
    QString screenTextToggle;
    QString screenTextOffNote;
    QString screenTextStateLabel;
    QString screenTextAllowed;
    QString screenTextNotAllowed;
    QString screenTextRequestLabel;
    QString networkNote;

    // MARK: Status panel
    QString impactEmptyLine;
    QString staleSleepTitle;
    QString accessibilityHint;
    QString lidClosedWarning;

    // MARK: What the desktop fallbacks say
    /// "%1" is the folder that was opened.
    QString loginItemsOpened;
    /// "%1" is the folder that no program could open.
    QString loginItemsNotOpened;
    QString accessibilitySwitchedOn;

    // MARK: Modes
    /// Every mode with its one name, in the one order every list of modes shows (settings, the
    /// tray menu).
    std::vector<std::pair<AppMode, QString>> modeNames;
    /// The panel picker's segments, in the same order, with their short names; a mode without
    /// one is named under the picker while it is in force.
    std::vector<std::pair<AppMode, QString>> pickerModes;
    /// Whether the statistics give times in words ("7 h 24 min") rather than decimal hours.
    bool statisticsInWords = false;
    /// The tray menu's timed keep-awake items: hours and text.
    std::vector<std::pair<int, QString>> timedKeepAwakeItems;

    /// The mode's name from `modeNames`.
    QString modeName(AppMode mode) const;

    /// Phrases of the shared library's texts (decision reasons, Accessibility notes) and of the
    /// design's statistics lines, and what this platform says instead; the design's platform has
    /// none.
    std::vector<std::pair<std::string, std::string>> libraryPhrases;

    /// The log lines about the keep-awake child and the sleep switch.
    const SleepLogWording* sleepLog = &SleepLogWording::macOS();

    /// `text` from the shared library with this platform's phrases put in.
    std::string adapted(std::string text) const;
    QString adapted(const QString& text) const;

    static const PlatformWording& macOS();
    static const PlatformWording& linuxDesktop();
    /// The wording of the platform this program was built for.
    static const PlatformWording& current();
};

} // namespace nodwarden::app
