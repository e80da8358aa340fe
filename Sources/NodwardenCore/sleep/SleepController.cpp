#include <NodwardenCore/sleep/SleepController.hpp>

#include <NodwardenCore/detection/ProcessIdentity.hpp>
#include <NodwardenCore/system/AsciiText.hpp>
#include <NodwardenCore/system/AtomicFile.hpp>
#include <NodwardenCore/system/BoundedFileRead.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/PlatformPaths.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden {

namespace {

constexpr double terminateWaitSeconds = 3.0;
constexpr double killWaitSeconds = 1.0;
/// Slack between a child's start time, counted in clock ticks from a boot time in whole seconds,
/// and the pid file written just after its launch.
constexpr double startTimeSlackSeconds = 2.0;
/// The pid file holds a line or two of digits; a file longer than this was not written by us.
constexpr std::size_t pidFileBound = 64 * 1024;

/// Splits at every newline character: line feed, vertical tab, form feed, carriage return, next
/// line (U+0085), line separator (U+2028) and paragraph separator (U+2029); empty pieces dropped.
std::vector<std::string_view> splitAtNewlines(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    std::size_t index = 0;
    const auto cut = [&](std::size_t separatorLength) {
        if (index > start) {
            pieces.push_back(text.substr(start, index - start));
        }
        index += separatorLength;
        start = index;
    };
    while (index < text.size()) {
        const auto byte = static_cast<unsigned char>(text[index]);
        const auto next = [&](std::size_t offset) {
            return index + offset < text.size() ? static_cast<unsigned char>(text[index + offset])
                                                : 0;
        };
        if (byte >= 0x0A && byte <= 0x0D) {
            cut(1);
        } else if (byte == 0xC2 && next(1) == 0x85) {
            cut(2);
        } else if (byte == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
            cut(3);
        } else {
            ++index;
        }
    }
    if (index > start) {
        pieces.push_back(text.substr(start, index - start));
    }
    return pieces;
}

/// A decimal 32-bit signed integer with an optional sign and nothing else.
std::optional<std::int32_t> parseDecimalIdentifier(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return std::nullopt;
    }
    // Parsed with the sign in place so that -2147483648 stays in range.
    std::string digits = negative ? "-" : "";
    digits.append(text);
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t index = 0;
    while (index < line.size()) {
        const auto start = line.find_first_not_of(" \t", index);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = std::min(line.find_first_of(" \t", start), line.size());
        fields.push_back(line.substr(start, end - start));
        index = end;
    }
    return fields;
}

} // namespace

SleepControllerFiles SleepControllerFiles::standard() {
    return SleepControllerFiles{PlatformPaths::keepAwakePidPath(),
                                PlatformPaths::lidClosedMarkerPath()};
}

SleepController::SleepController(CommandRunning& runner, CommandRunning& adminRunner,
                                 FileLogger& logger, std::string keepAwakePath,
                                 SleepControllerFiles files, SleepCommandSet commands,
                                 ProcessControl processControl, KeepAwakeContract keepAwake,
                                 const SleepLogWording& wording)
    : runner_(runner), adminRunner_(adminRunner), logger_(logger),
      keepAwakePath_(std::move(keepAwakePath)), files_(std::move(files)),
      commands_(std::move(commands)), processControl_(std::move(processControl)),
      keepAwake_(std::move(keepAwake)), wording_(wording) {}

SleepController::~SleepController() {
    stopKeepAwakeChild();
    std::vector<Child> abandoned;
    {
        std::lock_guard guard(lock_);
        abandoned.swap(guarded_.abandonedChildren);
    }
    if (!abandoned.empty()) {
        // Each one is killed outright and reaped as it is released.
        abandoned.clear();
        removeKeepAwakePIDFile();
    }
}

void SleepController::log(const std::string& message) {
    logger_.log(message);
}

// MARK: Keep-awake child

bool SleepController::isSleepPreventionEnabled() const {
    std::lock_guard guard(lock_);
    return guarded_.isSleepPreventionEnabled;
}

std::optional<bool> SleepController::appliedLetDisplaySleep() const {
    Child child;
    bool posture = false;
    {
        std::lock_guard guard(lock_);
        child = guarded_.keepAwakeChild;
        posture = guarded_.keepAwakeLetDisplaySleep;
    }
    if (!child || !child->isRunning()) {
        return std::nullopt;
    }
    return posture;
}

void SleepController::setKeepAwakeReason(std::string why) {
    std::lock_guard guard(lock_);
    guarded_.keepAwakeReason = std::move(why);
}

std::optional<std::string> SleepController::appliedKeepAwakeReason() const {
    Child child;
    std::string reason;
    {
        std::lock_guard guard(lock_);
        child = guarded_.keepAwakeChild;
        reason = guarded_.keepAwakeChildReason;
    }
    if (!child || !child->isRunning()) {
        return std::nullopt;
    }
    return reason;
}

bool SleepController::setSleepPrevention(bool enabled, bool allowLidClosed, bool letDisplaySleep) {
    return enabled ? enableSleepPrevention(allowLidClosed, letDisplaySleep) : restoreNormalSleep();
}

bool SleepController::enableSleepPrevention(bool allowLidClosed, bool letDisplaySleep) {
    std::string why;
    {
        std::lock_guard guard(lock_);
        why = guarded_.keepAwakeReason;
    }
    const bool holding = startKeepAwakeChild(letDisplaySleep, why);
    {
        std::lock_guard guard(lock_);
        guarded_.isSleepPreventionEnabled = holding;
    }
    return allowLidClosed ? engageLidClosedProtection() : true;
}

bool SleepController::restoreNormalSleep() {
    stopKeepAwakeChild();
    bool engaged = false;
    {
        std::lock_guard guard(lock_);
        guarded_.isSleepPreventionEnabled = false;
        engaged = guarded_.sleepSwitchEngaged;
    }
    return engaged ? disengageSleepSwitch() : true;
}

std::vector<std::string> SleepController::keepAwakeArguments(bool letDisplaySleep) {
    return {letDisplaySleep ? "-ims" : "-dimsu"};
}

bool SleepController::startKeepAwakeChild(bool letDisplaySleep, const std::string& why) {
    Child current;
    bool currentPosture = false;
    std::string currentReason;
    {
        std::lock_guard guard(lock_);
        current = guarded_.keepAwakeChild;
        currentPosture = guarded_.keepAwakeLetDisplaySleep;
        currentReason = guarded_.keepAwakeChildReason;
    }
    const bool currentRuns = current && current->isRunning();
    if (currentRuns && currentPosture == letDisplaySleep && currentReason == why) {
        return true;
    }
    const Child previous = currentRuns ? current : nullptr;

    Child started;
    try {
        // A child that reports readiness holds the machine only once it says so: one that ends at
        // once (its lock refused) is a failed launch, not a hold.
        // Its notes (no session bus, the locks it holds) are the log's, never the terminal's.
        started = KeepAwakeProcess::launch(
            keepAwakePath_, keepAwakeArguments(letDisplaySleep), keepAwake_.readinessTimeoutSeconds,
            keepAwake_.passedVariables, why,
            [&logger = logger_](const std::string& line) { logger.log(line); });
    } catch (const std::exception& error) {
        bool alreadyLogged = false;
        {
            std::lock_guard guard(lock_);
            alreadyLogged = std::exchange(guarded_.keepAwakeLaunchFailureLogged, true);
        }
        if (!alreadyLogged) {
            log("Failed to start " + wording_[SleepLogLine::child] + ": " + error.what() +
                " — retrying each tick, logging once");
        }
        return previous && previous->isRunning();
    }

    {
        std::lock_guard guard(lock_);
        guarded_.keepAwakeChild = started;
        guarded_.keepAwakeLetDisplaySleep = letDisplaySleep;
        guarded_.keepAwakeChildReason = why;
        guarded_.keepAwakeLaunchFailureLogged = false;
    }
    recordKeepAwakePIDs(previous ? std::vector<Child>{started, previous}
                                 : std::vector<Child>{started});
    log("Started " + wording_[SleepLogLine::child] + " pid " + std::to_string(started->pid()));

    if (previous) {
        // The new child already holds the machine, so the old one can take its time to go.
        const auto previousID = std::to_string(previous->pid());
        if (terminate(previous)) {
            recordKeepAwakePIDs({started});
            log("Retired previous " + wording_[SleepLogLine::child] + " pid " + previousID +
                (currentPosture == letDisplaySleep ? " after a change of reason"
                                                   : " after a display-posture change"));
        } else {
            abandon(previous);
            log("Previous " + wording_[SleepLogLine::child] + " pid " + previousID +
                " did not confirm exit; sent SIGKILL and moved on");
        }
    }
    return true;
}

void SleepController::stopKeepAwakeChild() {
    Child child;
    {
        std::lock_guard guard(lock_);
        child = std::exchange(guarded_.keepAwakeChild, nullptr);
    }
    if (!child || !child->isRunning()) {
        recordKeepAwakePIDs({});
        return;
    }
    const auto identifier = std::to_string(child->pid());
    if (terminate(child)) {
        log("Stopped " + wording_[SleepLogLine::child] + " pid " + identifier);
    } else {
        abandon(child);
        log(wording_[SleepLogLine::childAtStart] + " pid " + identifier +
            " did not confirm exit after SIGTERM; sent SIGKILL and moved on without blocking");
    }
    recordKeepAwakePIDs({});
}

bool SleepController::terminate(const Child& child) {
    child->sendSignal(SIGTERM, processControl_);
    if (child->waitForExit(terminateWaitSeconds, processControl_)) {
        return true;
    }
    child->sendSignal(SIGKILL, processControl_);
    return child->waitForExit(killWaitSeconds, processControl_);
}

void SleepController::abandon(const Child& child) {
    std::lock_guard guard(lock_);
    guarded_.abandonedChildren.push_back(child);
}

void SleepController::recordKeepAwakePIDs(const std::vector<Child>& leading) {
    std::vector<Child> abandoned;
    {
        std::lock_guard guard(lock_);
        abandoned = guarded_.abandonedChildren;
    }
    // Reaping happens outside the lock; only this queue changes the list, so nothing is lost
    // when the survivors are put back.
    std::erase_if(abandoned, [](const Child& child) { return !child->isRunning(); });
    {
        std::lock_guard guard(lock_);
        guarded_.abandonedChildren = abandoned;
    }
    std::vector<std::int32_t> identifiers;
    identifiers.reserve(leading.size() + abandoned.size());
    for (const auto& child : leading) {
        identifiers.push_back(child->pid());
    }
    for (const auto& child : abandoned) {
        identifiers.push_back(child->pid());
    }
    if (identifiers.empty()) {
        removeKeepAwakePIDFile();
    } else {
        writeKeepAwakePIDs(identifiers);
    }
}

void SleepController::writeKeepAwakePIDs(const std::vector<std::int32_t>& identifiers) {
    std::string text;
    for (const auto identifier : identifiers) {
        text += std::to_string(identifier) + "\n";
    }
    try {
        AtomicFile::write(files_.pidFilePath, text);
    } catch (const std::exception& error) {
        log("Failed to write " + wording_[SleepLogLine::child] + " pid(s): " + error.what());
    }
}

std::vector<std::int32_t> SleepController::readKeepAwakePIDs() const {
    // Never a FIFO, a device or a link in its place: those would hang the read or never end it.
    const auto file = BoundedFileRead::head(files_.pidFilePath, pidFileBound);
    if (!file) {
        return {};
    }
    std::string_view text = file->bytes;
    if (file->truncated) {
        text = text.substr(0, text.rfind('\n') + 1); // a line cut at the bound is no identifier
    }
    // A line that is not UTF-8 says nothing, but the others may still name a real orphan.
    std::vector<std::int32_t> identifiers;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (UnicodeText::isValidUTF8(line)) {
            const auto parsed = parseKeepAwakePIDs(line);
            identifiers.insert(identifiers.end(), parsed.begin(), parsed.end());
        }
    }
    return identifiers;
}

std::vector<std::int32_t> SleepController::parseKeepAwakePIDs(std::string_view text) {
    std::vector<std::int32_t> identifiers;
    for (const auto piece : splitAtNewlines(text)) {
        const auto trimmed = AsciiText::trimmed(piece);
        if (trimmed.empty()) {
            continue;
        }
        if (const auto identifier = parseDecimalIdentifier(trimmed)) {
            identifiers.push_back(*identifier);
        }
    }
    return identifiers;
}

void SleepController::removeKeepAwakePIDFile() {
    std::error_code ignored;
    std::filesystem::remove(files_.pidFilePath, ignored);
}

void SleepController::reconcileOrphanedKeepAwakeChildren() {
    for (const auto identifier : readKeepAwakePIDs()) {
        // Zero and negative numbers name process groups or every process to kill(); a garbled
        // file must never turn into one of those.
        if (identifier <= 0 || !isOrphanedKeepAwakeChild(identifier)) {
            continue;
        }
        processControl_.sendSignal(identifier, SIGTERM);
        log("Killed orphaned " + wording_[SleepLogLine::child] + " pid " +
            std::to_string(identifier) + " left by a previous run");
    }
    removeKeepAwakePIDFile();
}

bool SleepController::isOrphanedKeepAwakeChild(std::int32_t identifier) {
    if (!keepAwake_.processRoot) {
        std::string commandName;
        try {
            commandName =
                runner_
                    .run(ShellCommand{"/bin/ps", {"-p", std::to_string(identifier), "-o", "comm="}})
                    .standardOutput;
        } catch (const std::exception&) {
            return false;
        }
        return UnicodeText::containsIgnoringCase(commandName, "caffeinate");
    }
    // A pid file outlives a reboot, and other programs are named caffeinate too: only a process
    // running this very program, started before the file was last written, is a child of ours.
    const auto identity = readProcessIdentity(*keepAwake_.processRoot, identifier);
    if (!identity) {
        return false;
    }
    const std::filesystem::path program = keepAwakePath_;
    const bool runsOurProgram =
        identity->runs(program) ||
        std::ranges::any_of(keepAwake_.formerNames, [&](const std::string& name) {
            return identity->runs(program.parent_path() / name);
        });
    if (!runsOurProgram) {
        return false;
    }
    struct stat file {};
    if (identity->startedAtUnixSeconds && ::stat(files_.pidFilePath.c_str(), &file) == 0) {
        const double writtenAt = static_cast<double>(file.st_mtim.tv_sec) +
                                 static_cast<double>(file.st_mtim.tv_nsec) / 1e9;
        if (*identity->startedAtUnixSeconds > writtenAt + startTimeSlackSeconds) {
            return false;
        }
    }
    return true;
}

// MARK: Lid-closed protection and sleep commands

bool SleepController::isLidClosedProtectionEngaged() const {
    std::lock_guard guard(lock_);
    return guarded_.sleepSwitchEngaged;
}

bool SleepController::engageLidClosedProtection() {
    {
        std::lock_guard guard(lock_);
        if (guarded_.sleepSwitchEngaged) {
            return true;
        }
    }
    log(wording_[SleepLogLine::engagingSwitch]);
    try {
        adminRunner_.run(commands_.engage);
    } catch (const std::exception& error) {
        log(wording_[SleepLogLine::lidClosedDeclinedPrefix] + error.what());
        return false;
    }
    {
        std::lock_guard guard(lock_);
        guarded_.sleepSwitchEngaged = true;
    }
    writeEngagedMarker();
    return true;
}

bool SleepController::disengageSleepSwitch() {
    log(wording_[SleepLogLine::restoringSwitch]);
    bool restored = false;
    try {
        adminRunner_.run(commands_.adminRestore);
        restored = true;
    } catch (const std::exception& error) {
        log(std::string("Admin restore failed, trying direct restore: ") + error.what());
        try {
            runner_.run(commands_.directRestore);
        } catch (const std::exception&) {
            // Only the state read below decides whether the restore took.
        }
        restored = sleepSwitchState() == SleepSwitchState::sleepEnabled;
    }
    {
        std::lock_guard guard(lock_);
        guarded_.sleepSwitchEngaged = !restored;
    }
    if (restored) {
        removeEngagedMarker();
    } else {
        writeEngagedMarker();
        log(wording_[SleepLogLine::restoreUnconfirmed]);
    }
    return restored;
}

void SleepController::emergencyRestore() {
    log("Emergency restore requested");
    stopKeepAwakeChild();
    {
        std::lock_guard guard(lock_);
        guarded_.isSleepPreventionEnabled = false;
    }
    disengageSleepSwitch();
}

SleepSwitchState SleepController::sleepSwitchState() {
    std::string listing;
    try {
        listing = runner_.run(commands_.readState).standardOutput;
    } catch (const std::exception&) {
        return SleepSwitchState::unknown;
    }
    if (UnicodeText::trimmed(listing).empty()) {
        return SleepSwitchState::unknown;
    }
    return parseSleepDisabled(listing) ? SleepSwitchState::sleepDisabled
                                       : SleepSwitchState::sleepEnabled;
}

bool SleepController::isSystemSleepDisabled() {
    return sleepSwitchState() == SleepSwitchState::sleepDisabled;
}

bool SleepController::parseSleepDisabled(std::string_view text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        const auto fields = fieldsOf(text.substr(start, end - start));
        if (!fields.empty() && fields.front() == "SleepDisabled") {
            return fields.back() == "1";
        }
        start = end + 1;
    }
    return false;
}

void SleepController::adoptSleepSwitchEngaged() {
    {
        std::lock_guard guard(lock_);
        guarded_.sleepSwitchEngaged = true;
    }
    writeEngagedMarker();
}

bool SleepController::reconcileStuckSleepSwitch() {
    std::error_code ignored;
    if (!std::filesystem::exists(files_.engagedMarkerPath, ignored)) {
        return true;
    }
    if (sleepSwitchState() == SleepSwitchState::sleepEnabled) {
        log(wording_[SleepLogLine::staleMarkerRemoved]);
        removeEngagedMarker();
        return true;
    }
    log(wording_[SleepLogLine::stuckSwitchFound]);
    return disengageSleepSwitch();
}

void SleepController::sleepNow() {
    log(wording_[SleepLogLine::requestingSleepNow]);
    try {
        runner_.run(commands_.sleepNow);
    } catch (const std::exception& error) {
        log(wording_[SleepLogLine::sleepNowFailedPrefix] + error.what());
    }
}

void SleepController::writeEngagedMarker() {
    try {
        AtomicFile::write(files_.engagedMarkerPath, "");
    } catch (const std::exception& error) {
        log(wording_[SleepLogLine::markerWriteFailedPrefix] + error.what());
    }
}

void SleepController::removeEngagedMarker() {
    std::error_code ignored;
    std::filesystem::remove(files_.engagedMarkerPath, ignored);
}

} // namespace nodwarden
