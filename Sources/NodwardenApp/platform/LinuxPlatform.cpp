#include <NodwardenApp/platform/LinuxPlatform.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/SleepControlling.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenApp/model/StoredValue.hpp>
#include <NodwardenApp/platform/AgentHookConnector.hpp>
#include <NodwardenApp/platform/DesktopNotifier.hpp>
#include <NodwardenApp/platform/LoginItemPair.hpp>
#include <NodwardenApp/platform/PrivilegedHelperCheck.hpp>
#include <NodwardenApp/platform/SystemdLoginItemService.hpp>
#include <NodwardenApp/platform/XdgLoginItemService.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/ActivityDetector.hpp>
#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/SessionActivityDetector.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>
#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/statusrecords/AgentMountViews.hpp>
#include <NodwardenCore/statusrecords/AgentStatusReaders.hpp>
#include <NodwardenCore/statusrecords/StatusRecordDetector.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenLinux/AtspiAccessibilityPlatform.hpp>
#include <NodwardenLinux/HoldReportReader.hpp>
#include <NodwardenLinux/InotifyFileActivityProbe.hpp>
#include <NodwardenLinux/LinuxAppIdentity.hpp>
#include <NodwardenLinux/ProcTableReader.hpp>
#include <NodwardenLinux/SysfsPowerReader.hpp>
#include <NodwardenLinux/ThermalReader.hpp>
#include <NodwardenLinux/TmuxScreenVerdicts.hpp>

#include <QSettings>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <vector>

#include <unistd.h>

namespace nodwarden::app {

namespace {

/// Depth below the home folder to which session files are looked for.
constexpr int sessionProbeDepth = 8;
/// How long session files are remembered after their last change: a status record is read only
/// while its agent may have written it, and a day of transcripts costs next to nothing.
constexpr TimeInterval sessionHistorySeconds = 24 * 60 * 60;
/// Time-outs of the sleep controller's two command runners, in seconds.
constexpr double sleepCommandTimeout = 8;
constexpr double administratorCommandTimeout = 120;
/// Time-out of each question to a tmux server, in seconds: it answers in milliseconds, and the
/// detection pass must not wait on a server that hangs.
constexpr double screenCommandTimeout = 1;

/// The tmux panes' witness: none without a socket folder or a tmux program, so no pane is asked.
std::optional<linuxplatform::TmuxScreenVerdicts>
tmuxScreenVerdicts(const LinuxPlatformOptions& options, CommandRunning& runner) {
    if (options.tmuxSocketFolder.empty()) {
        return std::nullopt;
    }
    auto tmux = linuxplatform::TmuxPaneReader::locateExecutable("tmux");
    if (!tmux) {
        return std::nullopt;
    }
    return linuxplatform::TmuxScreenVerdicts(
        linuxplatform::TmuxPaneReader(runner, *tmux, options.tmuxSocketFolder));
}

/// Time-out of `systemctl --user daemon-reload`, run on the main thread.
constexpr double serviceManagerTimeout = 5;

std::unique_ptr<LoginItemService> makeLoginItems(const LinuxPlatformOptions& options,
                                                 CommandRunning& runner, FileLogger& logger) {
    std::unique_ptr<LoginItemService> autostart = std::make_unique<XdgLoginItemService>(
        options.autostart ? *options.autostart
                          : linuxplatform::XdgAutostart::forCurrentUser(options.executablePath));
    std::unique_ptr<LoginItemService> unit = std::make_unique<SystemdLoginItemService>(
        options.configHome / "systemd" / "user",
        options.packagedUnitFolders ? *options.packagedUnitFolders
                                    : SystemdLoginItemService::standardPackagedUnitFolders(),
        options.executablePath, options.systemctlPath, runner, logger);
    if (options.desktopSession) {
        return std::make_unique<LoginItemPair>(std::move(autostart), std::move(unit));
    }
    return std::make_unique<LoginItemPair>(std::move(unit), std::move(autostart));
}

/// What only the detection pass reads, declared so that each is destroyed before what it refers
/// to. Shared by every pass, so it lives as long as a pass left running at quit.
struct LinuxDetectionServices {
    LinuxDetectionServices(const LinuxPlatformOptions& options, FileLogger& logger)
        : power(options.hardwareRoot, &logger), lid(options.hardwareRoot, options.logindLid),
          thermal(options.hardwareRoot),
          accessibilityPlatform(
              options.accessibility
                  ? options.accessibility
                  : std::make_shared<linuxplatform::AtspiAccessibilityPlatform>()),
          screenText(*accessibilityPlatform, linuxplatform::linuxTerminalBundleIDs()),
          permission(*accessibilityPlatform),
          processes(std::make_shared<linuxplatform::ProcTableReader>(
              options.processRoot, std::chrono::milliseconds(250), &logger)),
          sessionProbe(std::make_shared<linuxplatform::InotifyFileActivityProbe>(
              options.paths.home, sessionProbeDepth,
              linuxplatform::InotifyFileActivityProbe::noRefresh, sessionHistorySeconds,
              linuxplatform::InotifyFileActivityProbe::FirstWalk::inBackground)),
          // Programs of the catalog made for other systems cannot have written files here.
          sessions(sessionProbe, HostSystem::linux),
          statusRecords(standardStatusReaders(options.paths.home, sessionProbe),
                        &readersOfContainerHome,
                        std::make_shared<AgentMountViews>(options.processRoot / "proc")),
          agentLocks(options.inhibitors, static_cast<std::int32_t>(::getpid()), ::getuid()),
          hooks(options.hooks ? options.hooks : std::make_shared<HookWitness>()),
          screenRunner(screenCommandTimeout),
          tmuxScreens(tmuxScreenVerdicts(options, screenRunner)),
          activity(processes, screenText, sessions, verdictDetectors()) {}

    /// The readers of an agent's home in a container, seen through /proc/PID/root: the folders
    /// there are walked when asked, not watched.
    static std::vector<std::unique_ptr<AgentStatusReading>>
    readersOfContainerHome(const std::filesystem::path& home) {
        return standardStatusReaders(home,
                                     std::make_shared<FileActivityProbe>(home, sessionProbeDepth));
    }

    /// The witnesses that speak for one agent; their verdicts rank by quality, and between two of
    /// one quality the agents' own records come before the locks they took, then their screens,
    /// then the turns their hooks announced: a record or a screen may show a cancelled turn that
    /// sent no hook event.
    std::vector<AgentVerdictDetecting*> verdictDetectors() {
        std::vector<AgentVerdictDetecting*> detectors{&statusRecords, &agentLocks};
        if (tmuxScreens) {
            detectors.push_back(&*tmuxScreens);
        }
        detectors.push_back(hooks.get());
        return detectors;
    }

    linuxplatform::SysfsPowerReader power;
    linuxplatform::LidSwitchReader lid;
    linuxplatform::ThermalReader thermal;
    /// The level the last detection pass read: sysfs is read there, never on the main thread.
    std::atomic<ThermalState> thermalLevel{ThermalState::nominal};
    std::shared_ptr<AccessibilityPlatform> accessibilityPlatform;
    AccessibilityDetector screenText;
    AccessibilityDetector permission;
    ProcessDetector processes;
    std::shared_ptr<linuxplatform::InotifyFileActivityProbe> sessionProbe;
    SessionActivityDetector sessions;
    /// The agents' own word, asked before any screen.
    StatusRecordDetector statusRecords;
    /// The sleep locks agents take themselves.
    linuxplatform::LogindInhibitorWitness agentLocks;
    /// The turns the agents' hooks announced, shared with the control socket.
    std::shared_ptr<HookWitness> hooks;
    ProcessCommandRunner screenRunner;
    std::optional<linuxplatform::TmuxScreenVerdicts> tmuxScreens;
    ActivityDetector activity;
};

/// The model's other services, which end with it: above all the sleep controller, whose end
/// stops the keep-awake child.
struct LinuxServices {
    LinuxServices(const LinuxPlatformOptions& options, FileLogger& logger)
        : defaults(QString::fromStdString(settingsFilePath(options.configHome).string()),
                   QSettings::IniFormat),
          runner(sleepCommandTimeout), administratorRunner(administratorCommandTimeout),
          sleepController(
              runner, administratorRunner, logger,
              options.helpers.locateOrFirstCandidate(HelperNames::keepAwake).string(),
              SleepControllerFiles{PlatformPaths::keepAwakePidPath(options.paths),
                                   PlatformPaths::lidClosedMarkerPath(options.paths)},
              // A helper the user could replace is never run as root.
              checkedSleepSwitchCommands(
                  options.elevatorPath,
                  options.helpers.locateOrFirstCandidate(HelperNames::sleepSwitch).string(),
                  logger),
              // The model logs its own sleep lines from the same table
              // (`PlatformWording::sleepLog`).
              ProcessControl{}, KeepAwakeContract::linuxHelper(),
              *PlatformWording::linuxDesktop().sleepLog),
          sleep(sleepController), serviceManagerRunner(serviceManagerTimeout),
          loginItems(makeLoginItems(options, serviceManagerRunner, logger)) {}

    QSettings defaults;
    ProcessCommandRunner runner;
    ProcessCommandRunner administratorRunner;
    SleepController sleepController;
    SleepControllerAdapter<SleepController> sleep;
    ProcessCommandRunner serviceManagerRunner;
    std::unique_ptr<LoginItemService> loginItems;
};

std::filesystem::path configHomeFromEnvironment(const std::filesystem::path& home) {
    // Relative values are invalid by the XDG rules and ignored.
    if (const char* value = std::getenv("XDG_CONFIG_HOME"); value != nullptr && *value == '/') {
        return value;
    }
    return home / ".config";
}

void logMissingHelpers(const HelperSearchPath& helpers, FileLogger& logger) {
    for (const std::string_view name : {HelperNames::keepAwake, HelperNames::sleepSwitch}) {
        if (helpers.locate(name)) {
            continue;
        }
        std::string folders;
        for (const auto& folder : helpers.folders) {
            folders += (folders.empty() ? "" : ", ") + folder.string();
        }
        logger.log("Helper program " + std::string(name) + " not found in " + folders);
    }
}

} // namespace

LinuxPlatformOptions
LinuxPlatformOptions::forCurrentUser(const std::filesystem::path& executablePath) {
    LinuxPlatformOptions options;
    options.paths = PlatformPaths::currentEnvironment();
    options.configHome = configHomeFromEnvironment(options.paths.home);
    options.tmuxSocketFolder = linuxplatform::TmuxPaneReader::defaultSocketFolder();
    options.helpers = HelperSearchPath::standard(executablePath);
    options.executablePath = executablePath.string();
    return options;
}

std::filesystem::path settingsFilePath(const std::filesystem::path& configHome) {
    return configHome / "Stayloom" / "Stayloom.conf";
}

std::filesystem::path instanceLockFolder(const LinuxPlatformOptions& options) {
    return PlatformPaths::supportFolder(options.paths);
}

bool processExists(std::int32_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

AppEnvironment makeLinuxEnvironment(const LinuxPlatformOptions& options, WindowPresenter& windows,
                                    FileLogger& logger) {
    logMissingHelpers(options.helpers, logger);
    auto services = std::make_shared<LinuxServices>(options, logger);
    auto detection = std::make_shared<LinuxDetectionServices>(options, logger);
    // Documents too long to be ours leave the store before the model reads it, so neither this
    // start nor any save pays for them again.
    for (const std::string_view key : {StoredKeys::settings, StoredKeys::metrics}) {
        StoredDocument::setAsideIfOversized(services->defaults, detail::qstring(key), logger);
    }
    // The settings file is one people read: blobs an earlier version left become text, once.
    StoredValue::rewriteBlobsAsText(services->defaults, logger);

    AppEnvironment environment;
    environment.wording = &PlatformWording::linuxDesktop();
    environment.power = &detection->power;
    environment.lid = &detection->lid;
    environment.detectPerApp = [detection = detection.get()](const GuardSettings& settings,
                                                             const PowerSnapshot& power, Date now) {
        detection->thermalLevel.store(detection->thermal.thermalState());
        return detection->activity.detectPerApp(settings, power, now);
    };
    environment.accessibility = &detection->permission;
    environment.thermalState = [level = &detection->thermalLevel] { return level->load(); };
    environment.processExists = processExists;
    environment.sleepController = &services->sleep;
    environment.keepAwakeLocks =
        [reader = linuxplatform::HoldReportReader(
             linuxplatform::HoldReportReader::runtimeFolderFromEnvironment())] {
            return reader.read();
        };
    environment.loginItems = services->loginItems.get();
    environment.windows = &windows;
    environment.defaults = &services->defaults;
    environment.logger = &logger;
    environment.runLedgerPath = PlatformPaths::runLedgerPath(options.paths);
    environment.statisticsPath = PlatformPaths::statisticsPath(options.paths);
    environment.tickInterval = options.tickInterval;
    environment.firstTickDelay = options.firstTickDelay;
    auto notifier = std::make_shared<DesktopNotifier>(logger);
    environment.notifier = notifier.get();
    // Without a home there are no agents' settings to connect.
    std::shared_ptr<AgentHookConnector> agentHooks;
    if (!options.paths.home.empty()) {
        agentHooks = std::make_shared<AgentHookConnector>(HookSetup::placeFor(options));
        environment.agentHooks = agentHooks.get();
    }
    environment.desktopApplicationIDs = [](const std::string& bundleID) {
        return linuxplatform::linuxNamesForBundleID(bundleID);
    };
    environment.keepAlive.push_back(std::move(services));
    environment.keepAlive.push_back(std::move(notifier));
    environment.keepAlive.push_back(std::move(agentHooks));
    environment.detectionKeepAlive.push_back(std::move(detection));
    return environment;
}

} // namespace nodwarden::app
