#pragma once

#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/sleep/SleepLogWording.hpp>

#include <QCoreApplication>
#include <QString>

#include <utility>
#include <vector>

namespace nodwarden::app {

/// Every shown text that names the machine or the platform's way of doing something: one
/// instance per platform, chosen once at start, so views never branch on the platform.
struct PlatformWording {
    Q_DECLARE_TR_FUNCTIONS(PlatformWording)

public:
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

    /// Whether the shared library's sentences (decisions, signals, notes) are shown as they are
    /// written; otherwise `ReasonTexts` speaks from their codes.
    bool showsLibraryTexts = false;

    // MARK: Statistics: time held awake with the lid closed
    /// "2.5h <caption>", the panel's and the statistics tab's word for that time.
    QString protectedCaption;
    /// The same at the head of a statistics tile.
    QString protectedTitle;
    /// The panel's line while no such time has been counted.
    QString nothingProtectedYet;

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

    /// The log lines about the keep-awake child and the sleep switch, the controller's and the
    /// model's alike.
    const SleepLogWording* sleepLog = &SleepLogWording::macOS();

    static const PlatformWording& macOS();
    static const PlatformWording& linuxDesktop();
    /// The wording of the platform this program was built for.
    static const PlatformWording& current();
    /// `wording`'s platform in the program's own English: the macOS texts as they are, the
    /// Linux texts as written before translation.
    static const PlatformWording& inSourceLanguageOf(const PlatformWording& wording);

private:
    static PlatformWording makeLinux();
};

} // namespace nodwarden::app
