// The program's platform pieces on their own: helper lookup, the per-user lock, signals, the
// terminal prompt and the headless status lines.

#include "AppModelHarness.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/LoggedMessages.hpp"
#include "Support/SocketPeer.hpp"

#include <NodwardenApp/control/ControlClient.hpp>
#include <NodwardenApp/control/ControlSocketPath.hpp>
#include <NodwardenApp/control/SingleInstance.hpp>
#include <NodwardenApp/model/WorkNotifier.hpp>
#include <NodwardenApp/platform/DesktopNotifier.hpp>
#include <NodwardenApp/platform/DisplayProbe.hpp>
#include <NodwardenApp/platform/HelperLocator.hpp>
#include <NodwardenApp/platform/LoginItemPair.hpp>
#include <NodwardenApp/platform/SignalQuit.hpp>
#include <NodwardenApp/platform/SystemdLoginItemService.hpp>
#include <NodwardenApp/platform/XdgLoginItemService.hpp>
#include <NodwardenApp/terminal/HeadlessStatusPrinter.hpp>
#include <NodwardenApp/terminal/TerminalTermsPrompt.hpp>

#include <NodwardenCore/FileLogger.hpp>
#include <NodwardenCore/ShellCommand.hpp>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <tuple>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

namespace {

void writeProgram(const std::filesystem::path& path, mode_t mode) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n";
    ::chmod(path.c_str(), mode);
}

/// Everything written to a temporary stream so far.
std::string contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[512];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, stream)) {
        text.append(buffer, count);
    }
    return text;
}

/// Every emission of one signal, with its arguments.
template <typename Sender, typename... Arguments> class Recorder {
public:
    Recorder(Sender* sender, void (Sender::*signal)(Arguments...)) {
        QObject::connect(sender, signal, sender,
                         [this](Arguments... values) { emissions.emplace_back(values...); });
    }
    int count() const { return int(emissions.size()); }
    std::vector<std::tuple<Arguments...>> emissions;
};

} // namespace

TEST(HelperLocatorTests, TakesTheFirstFolderWithAnExecutableFile) {
    TemporaryDirectory root;
    const auto missing = root.path() / "missing";
    const auto notExecutable = root.path() / "plain";
    const auto aFolder = root.path() / "folder";
    const auto good = root.path() / "good";
    const auto later = root.path() / "later";
    writeProgram(notExecutable / "caffeinate", 0644);
    std::filesystem::create_directories(aFolder / "caffeinate");
    writeProgram(good / "caffeinate", 0755);
    writeProgram(later / "caffeinate", 0755);

    const HelperSearchPath search{{missing, notExecutable, aFolder, good, later}};
    EXPECT_EQ(search.locate("caffeinate"), good / "caffeinate");
    EXPECT_EQ(search.locate("stayloom-sleep-switch"), std::nullopt);
    EXPECT_EQ(search.locateOrFirstCandidate("stayloom-sleep-switch"),
              missing / "stayloom-sleep-switch");
    EXPECT_EQ(HelperSearchPath{}.locateOrFirstCandidate("caffeinate"), "caffeinate");
}

TEST(SingleInstanceTests, SecondHolderIsRefusedNamedAndAsksTheFirstToComeForward) {
    TemporaryDirectory root;
    auto first = std::make_unique<SingleInstance>(root.path() / "state");
    ASSERT_TRUE(first->acquire());
    Recorder activations(first.get(), &SingleInstance::activationRequested);

    SingleInstance second(root.path() / "state");
    EXPECT_FALSE(second.acquire());
    EXPECT_EQ(second.holderPid(), ::getpid());
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return activations.count() == 1; }));

    first.reset();
    EXPECT_FALSE(std::filesystem::exists(root.path() / "state" / "Stayloom.socket"));
    SingleInstance third(root.path() / "state");
    EXPECT_TRUE(third.acquire()) << "the lock ends with its holder";
}

TEST(SingleInstanceTests, LockOfAnEndedProcessDoesNotBlockAndAStaleSocketIsReplaced) {
    TemporaryDirectory root;
    const auto folder = root.path() / "state";
    std::filesystem::create_directories(folder);
    SingleInstance probe(folder);
    // A stale socket file, as a crashed run leaves it.
    std::ofstream(*probe.socketPath()) << "";

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(probe.lockFilePath().c_str(), O_RDWR | O_CREAT, 0600);
        ::flock(fd, LOCK_EX);
        [[maybe_unused]] const ssize_t written = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_FALSE(probe.acquire()) << "a live holder in another process";

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    SingleInstance after(folder);
    ASSERT_TRUE(after.acquire());
    EXPECT_EQ(readFile(after.lockFilePath()), std::to_string(::getpid()) + "\n");

    Recorder activations(&after, &SingleInstance::activationRequested);
    SingleInstance knocking(folder);
    EXPECT_FALSE(knocking.acquire());
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return activations.count() == 1; }))
        << "the stale socket was replaced by a listening one";
}

TEST(SingleInstanceTests, ALinkWhereTheLockBelongsIsRefusedAndItsTargetLeftAlone) {
    TemporaryDirectory root;
    const auto folder = root.path() / "state";
    std::filesystem::create_directories(folder);
    const auto target = root.path() / "precious.txt";
    std::ofstream(target) << "keep me\n";
    SingleInstance instance(folder);
    std::filesystem::create_symlink(target, instance.lockFilePath());

    EXPECT_FALSE(instance.acquire());
    ASSERT_TRUE(instance.refusal().has_value());
    EXPECT_NE(instance.refusal()->find(instance.lockFilePath().string()), std::string::npos)
        << *instance.refusal();
    EXPECT_EQ(readFile(target), "keep me\n");
    EXPECT_FALSE(instance.holderPid().has_value());
}

TEST(SingleInstanceTests, ASocketPathTooLongForAnAddressMovesToTheRuntimeFolderForBothSides) {
    TemporaryDirectory root;
    const auto folder = root.path() / std::string(ControlSocketPath::maxLength(), 'f');
    const auto runtime = root.path() / "run";
    std::filesystem::create_directories(runtime);

    SingleInstance first(folder, runtime);
    ASSERT_TRUE(first.socketPath().has_value());
    EXPECT_EQ(first.socketPath()->parent_path(), runtime);
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(std::filesystem::is_socket(*first.socketPath()));
    Recorder activations(&first, &SingleInstance::activationRequested);
    SingleInstance second(folder, runtime);
    EXPECT_EQ(second.socketPath(), first.socketPath());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return activations.count() == 1; }));

    // Another lock folder never shares the moved socket, and without a runtime folder no path
    // is made up.
    EXPECT_NE(
        SingleInstance(root.path() / std::string(ControlSocketPath::maxLength(), 'g'), runtime)
            .socketPath(),
        first.socketPath());
    EXPECT_FALSE(SingleInstance(folder).socketPath().has_value());
    // A command then says why it cannot ask rather than that nothing runs.
    std::FILE* errors = std::tmpfile();
    CommandLineRequest status;
    status.action = CommandLineRequest::Action::status;
    EXPECT_EQ(ControlClient::run(status, SingleInstance(folder).socketPath(), errors, errors),
              ControlClient::failedStatus);
    EXPECT_NE(contents(errors).find("too long for this system"), std::string::npos);
    std::fclose(errors);
    EXPECT_EQ(SingleInstance(root.path() / "short").socketPath(),
              root.path() / "short" / "Stayloom.socket");
}

TEST(SingleInstanceTests, APeerHoldingIdleConnectionsGetsBusyAnswersNotSilence) {
    TemporaryDirectory root;
    SingleInstance instance(root.path() / "state");
    ASSERT_TRUE(instance.acquire());
    instance.setRequestHandler([](const QJsonObject&) {
        return ControlReply{QJsonObject{{QStringLiteral("ok"), true}}, {}};
    });
    std::vector<int> idle;
    for (int index = 0; index < ControlProtocol::maxConnectionsPerPeer; ++index) {
        idle.push_back(connectSocketPeer(*instance.socketPath()));
    }
    // A command from the same process as the idle peers is told why it is not served.
    std::FILE* output = std::tmpfile();
    std::FILE* errors = std::tmpfile();
    CommandLineRequest request;
    request.action = CommandLineRequest::Action::status;
    auto command = std::async(std::launch::async, [&] {
        return ControlClient::run(request, instance.socketPath(), output, errors);
    });
    ASSERT_TRUE(AppModelHarness::processEventsUntil([&] {
        return command.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    }));
    EXPECT_EQ(command.get(), ControlClient::failedStatus);
    EXPECT_EQ(contents(errors),
              "The running Stayloom is busy answering other commands. Try again in a moment.\n");
    EXPECT_EQ(contents(output), "");
    std::fclose(output);
    std::fclose(errors);
    for (const int fd : idle) {
        ::close(fd);
    }
}

TEST(SignalQuitTests, FirstSignalRequestsQuitOnceAndEarlierHandlersComeBack) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction saved = {};
    ::sigaction(SIGHUP, &ignore, &saved);
    {
        SignalQuit quit;
        Recorder requests(&quit, &SignalQuit::quitRequested);
        // Ignored when the program started (nohup): it stays ignored.
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ASSERT_TRUE(AppModelHarness::processEventsUntil([&] { return requests.count() > 0; }));
        QCoreApplication::processEvents();
        ASSERT_EQ(requests.count(), 1);
        EXPECT_EQ(std::get<0>(requests.emissions.front()), SIGTERM);
    }
    struct sigaction now = {};
    ::sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ::sigaction(SIGHUP, &saved, nullptr);
}

TEST(TerminalTermsPromptTests, OnlyAYesAccepts) {
    const std::vector<std::pair<std::string, bool>> answers{
        {"y", true},    {"Y", true},           {"yes", true}, {" YeS \r", true},
        {"", false},    {"n", false},          {"no", false}, {"yess", false},
        {"y y", false}, {"yes please", false}, {"ja", false}, {"\ty\t", true}};
    for (const auto& [answer, accepted] : answers) {
        EXPECT_EQ(TerminalTermsPrompt::isAcceptance(answer), accepted) << '"' << answer << '"';
    }
}

TEST(TerminalTermsPromptTests, AsksOnceDeclinesAnythingElseAndStopsAtYes) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    std::FILE* output = std::tmpfile();
    TerminalTermsPrompt prompt(input[0], output, "THE TERMS\n");
    Recorder accepted(&prompt, &TerminalTermsPrompt::accepted);
    Recorder listening(&prompt, &TerminalTermsPrompt::listeningChanged);
    EXPECT_FALSE(prompt.canAsk()) << "a pipe is no terminal";

    prompt.ask();
    prompt.ask();
    ASSERT_EQ(::write(input[1], "maybe\ny\nignored\n", 16), 16);
    ASSERT_TRUE(AppModelHarness::processEventsUntil([&] { return accepted.count() == 1; }));
    EXPECT_FALSE(prompt.isListening());
    EXPECT_EQ(listening.count(), 2);
    EXPECT_EQ(contents(output), "THE TERMS\n\n" + std::string(TerminalTermsPrompt::question) +
                                    std::string(TerminalTermsPrompt::declined));
    ::close(input[1]);
    ::close(input[0]);
    std::fclose(output);
}

TEST(HeadlessStatusPrinterTests, OneLinePerChangeNeverRepeatedAndHeldWhileAsking) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    auto model = harness.makeModel();
    std::FILE* output = std::tmpfile();
    auto* printer = new HeadlessStatusPrinter(*model, output);
    const auto settleAndPrint = [&] {
        harness.tickAndSettle(*model);
        QCoreApplication::processEvents();
    };

    settleAndPrint();
    settleAndPrint();
    harness.setPerApp({AppModelHarness::signal(SignalStrength::strong, "Claude Code")});
    settleAndPrint();
    settleAndPrint();

    printer->setHeld(true);
    harness.setPerApp({});
    settleAndPrint();
    const std::string whileHeld = contents(output);
    printer->setHeld(false);
    QCoreApplication::processEvents();

    const std::string text = contents(output);
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0].rfind("Watching — ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - std::string(" · none detected").size()),
              " · none detected");
    EXPECT_EQ(lines[1], "Keeping Awake — test reason · 1 working");
    EXPECT_EQ(lines[2].rfind("Idle Grace — ", 0), 0u) << lines[2];
    EXPECT_EQ(whileHeld.find("Idle Grace"), std::string::npos);
    EXPECT_EQ(printer->lastLine().toStdString(), lines[2]);
    model.reset();
    std::fclose(output);
}

TEST(SystemdLoginItemServiceTests,
     UnitStartsThisProgramIsEnabledByItsLinkAndOffRemovesEveryWayOfStarting) {
    TemporaryDirectory folder;
    const auto units = folder.path() / "config" / "systemd" / "user";
    const auto calls = folder.path() / "systemctl.calls";
    // A user manager that cannot be reached, as over SSH without a user bus.
    writeProgram(folder.path() / "systemctl", 0755);
    std::ofstream(folder.path() / "systemctl", std::ios::app)
        << "echo \"$*\" >> '" << calls.string()
        << "'\necho 'Failed to connect to bus' >&2\nexit 1\n";
    ProcessCommandRunner runner(5);
    FileLogger logger(folder.path() / "log");
    const std::string program = "/opt/my tools/100%/$stayloom";
    SystemdLoginItemService service(units, program, (folder.path() / "systemctl").string(), runner,
                                    logger);
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);

    ASSERT_NO_THROW(service.registerItem()) << "an unreachable manager is not a failure";
    EXPECT_EQ(service.status(), LoginItemStatus::enabled);
    const std::string unit = readFile(units / "stayloom.service");
    EXPECT_NE(unit.find("\nType=simple\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nRestart=on-failure\n"), std::string::npos);
    EXPECT_NE(unit.find("\nExecStart=\"/opt/my tools/100%%/$$stayloom\"\n"), std::string::npos)
        << unit;
    EXPECT_NE(unit.find("\nWantedBy=default.target\n"), std::string::npos);
    const auto link = units / "default.target.wants" / "stayloom.service";
    EXPECT_EQ(std::filesystem::canonical(link),
              std::filesystem::canonical(units / "stayloom.service"));
    logger.flush();
    EXPECT_NE(readFile(folder.path() / "log").find("systemctl --user daemon-reload failed: "),
              std::string::npos);

    ASSERT_NO_THROW(service.unregisterItem());
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
    EXPECT_FALSE(std::filesystem::exists(units / "stayloom.service"));
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(calls), "--user daemon-reload\n--user daemon-reload\n");

    // A start without a desktop on a machine whose desktop entry already starts the program
    // adds no unit (two would start two copies at login); switching off removes both.
    linuxplatform::XdgAutostart autostart(folder.path() / "config" / "autostart", {}, program);
    autostart.enable();
    LoginItemPair headless(
        std::make_unique<SystemdLoginItemService>(
            units, program, (folder.path() / "systemctl").string(), runner, logger),
        std::make_unique<XdgLoginItemService>(autostart));
    EXPECT_EQ(headless.status(), LoginItemStatus::enabled);
    ASSERT_NO_THROW(headless.unregisterItem());
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(headless.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(readFile(calls), "--user daemon-reload\n--user daemon-reload\n")
        << "no unit, nothing to reload";
}

TEST(DisplayProbeTests, UsesOnlyADisplayThatAnswersAndThatQtCanDrive) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> variables;
        bool xAnswers;
        bool waylandAnswers;
        bool waylandPlugin;
        bool usable;
        std::string platform;
        bool notice;
    };
    const std::vector<Case> cases{
        {"nothing named", {}, false, false, true, false, "", false},
        {"X answers", {{"DISPLAY", ":0"}}, true, false, false, true, "xcb", false},
        {"stale X", {{"DISPLAY", "localhost:10.0"}}, false, false, false, false, "", true},
        {"Wayland with plugin",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1"}},
         false,
         true,
         true,
         true,
         "wayland",
         false},
        {"Wayland without plugin, XWayland",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1"}, {"DISPLAY", ":0"}},
         true,
         true,
         false,
         true,
         "xcb",
         false},
        {"Wayland without plugin only",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1"}},
         false,
         true,
         false,
         false,
         "",
         true},
        {"asked for xcb, stale",
         {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":5"}},
         false,
         false,
         false,
         false,
         "",
         true},
        {"asked for offscreen",
         {{"QT_QPA_PLATFORM", "offscreen"}},
         false,
         false,
         false,
         true,
         "",
         false},
    };
    for (const Case& example : cases) {
        SCOPED_TRACE(example.name);
        std::vector<std::string> probedSockets;
        DisplayEnvironment environment{[&](const char* name) -> std::optional<std::string> {
                                           const auto found = example.variables.find(name);
                                           return found == example.variables.end()
                                                      ? std::nullopt
                                                      : std::optional(found->second);
                                       },
                                       [&](const std::string&) { return example.xAnswers; },
                                       [&](const std::string& path) {
                                           probedSockets.push_back(path);
                                           return example.waylandAnswers;
                                       },
                                       [&] { return example.waylandPlugin; }};
        const DisplayChoice choice = chooseDisplay(environment);
        EXPECT_EQ(choice.usable, example.usable);
        EXPECT_EQ(choice.platform, example.platform);
        EXPECT_EQ(choice.notice.has_value(), example.notice);
        for (const auto& socket : probedSockets) {
            EXPECT_EQ(socket, "/run/user/1/wayland-0");
        }
    }
}

// MARK: - Desktop notifications

namespace {

/// A private session bus with a notification server on it that logs every call; the test's
/// session bus address points at it while the fixture lives.
class PrivateNotificationServer {
public:
    PrivateNotificationServer()
        : address_("unix:path=" + (folder_.path() / "bus").string()),
          bus_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + address_}) {
        for (int attempt = 0; attempt < 200 && !std::filesystem::exists(folder_.path() / "bus");
             ++attempt) {
            ::usleep(25'000);
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template",
                                     "notification_daemon", "-l", callLog().string()});
        for (int attempt = 0; attempt < 200 && !ready(); ++attempt) {
            ::usleep(25'000);
        }
    }
    ~PrivateNotificationServer() { ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); }

    bool ready() const {
        return std::system("/usr/bin/dbus-send --session --print-reply "
                           "--dest=org.freedesktop.DBus /org/freedesktop/DBus "
                           "org.freedesktop.DBus.GetNameOwner "
                           "string:org.freedesktop.Notifications >/dev/null 2>&1") == 0;
    }
    /// The Notify calls the server took, each without its time stamp.
    std::vector<std::string> notifyCalls() const {
        std::vector<std::string> calls;
        std::ifstream file(callLog());
        for (std::string line; std::getline(file, line);) {
            const auto at = line.find(" Notify ");
            if (at != std::string::npos) {
                calls.push_back(line.substr(at + 1));
            }
        }
        return calls;
    }

private:
    std::filesystem::path callLog() const { return folder_.path() / "calls.log"; }

    TemporaryDirectory folder_;
    std::string address_;
    ChildProcess bus_;
    std::unique_ptr<ChildProcess> server_;
};

} // namespace

TEST(DesktopNotifications, TheServerGetsTheWorkDoneAndTheSafetyTextEachReplacingTheLast) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon") ||
        std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
        GTEST_SKIP() << "BUS UNAVAILABLE: needs dbus-daemon and python3-dbusmock";
    }
    PrivateNotificationServer server;
    ASSERT_TRUE(server.ready());
    TemporaryDirectory folder;
    FileLogger logger(folder.path() / "stayloom.log");
    {
        DesktopNotifier desktop(logger, folder.path() / "no-sandbox");
        WorkNotifier notifier(desktop);
        const GuardSettings settings = GuardSettings::defaults();
        const auto decide = [](GuardStatus status, std::optional<std::string> agent) {
            GuardDecision decision;
            decision.status = status;
            decision.detectedAppName = std::move(agent);
            return decision;
        };
        const PowerSnapshot mains{true, std::nullopt, ""};
        const PowerSnapshot low{false, 4, ""};
        notifier.observe(AppMode::watchAgentUI, decide(GuardStatus::keepingAwake, "Claude Code"),
                         mains, settings, 1000);
        notifier.observe(AppMode::watchAgentUI, decide(GuardStatus::watching, std::nullopt), mains,
                         settings, 1000 + 12 * 60 + 5);
        notifier.observe(AppMode::watchAgentUI, decide(GuardStatus::keepingAwake, "Codex CLI"), low,
                         settings, 2000);
        notifier.observe(AppMode::watchAgentUI, decide(GuardStatus::batterySafety, std::nullopt),
                         low, settings, 2100);
        desktop.drain();
    }
    const std::string head = "Notify \"Stayloom\" ";
    const std::string icon = " \"org.stayloom.Stayloom\" ";
    const std::string tail = " [] {\"desktop-entry\": \"org.stayloom.Stayloom\"} -1";
    EXPECT_EQ(server.notifyCalls(),
              (std::vector<std::string>{
                  head + "0" + icon +
                      "\"Agents finished\" \"Claude Code worked 12 min. The computer may sleep "
                      "again.\"" +
                      tail,
                  head + "1" + icon +
                      "\"Battery low — keep-awake stopped\" \"The battery is at 4%, below the "
                      "cutoff. The computer may sleep again.\"" +
                      tail}));
    EXPECT_TRUE(loggedMessages(logger).empty()) << ::testing::PrintToString(loggedMessages(logger));
}

TEST(DesktopNotifications, WithoutASessionBusNothingIsShownAndOneLineIsLogged) {
    TemporaryDirectory folder;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (folder.path() / "none").string()).c_str(),
             1);
    FileLogger logger(folder.path() / "stayloom.log");
    {
        DesktopNotifier desktop(logger, folder.path() / "no-sandbox");
        desktop.show(Notice{"Agents finished", "one"});
        desktop.show(Notice{"Agents finished", "two"});
        desktop.drain();
    }
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    const auto lines = loggedMessages(logger);
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.front().rfind("Notifications: no session bus (", 0), 0u) << lines.front();
}
