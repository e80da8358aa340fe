// The program's Linux wiring on its own (platform/): helper lookup, the agents' hook settings,
// signals, login items, the display probe, the desktop's notifications, and the macOS updater
// start.

#include "AppSupport/AppModelHarness.hpp"
#include "AppSupport/Recording.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/LoggedMessages.hpp"

#include <NodwardenApp/model/WorkNotifier.hpp>
#include <NodwardenApp/platform/DesktopNotifier.hpp>
#include <NodwardenApp/platform/DisplayProbe.hpp>
#include <NodwardenApp/platform/HelperLocator.hpp>
#include <NodwardenApp/platform/HookSetup.hpp>
#include <NodwardenApp/platform/LoginItemPair.hpp>
#include <NodwardenApp/platform/SignalQuit.hpp>
#include <NodwardenApp/platform/SystemdLoginItemService.hpp>
#include <NodwardenApp/platform/UserLanguage.hpp>
#include <NodwardenApp/platform/XdgLoginItemService.hpp>
#include <NodwardenApp/platform/macos/BundleUpdater.hpp>

#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
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

} // namespace

TEST(HelperLocator, TakesTheFirstFolderWithAnExecutableFile) {
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

TEST(HelperLocator, LookedForNextToTheProgramFirstThenInTheBuildTree) {
    const auto search = HelperSearchPath::standard("/opt/stayloom/bin/Stayloom");
    ASSERT_GE(search.folders.size(), 2u);
    EXPECT_EQ(search.folders[0], "/opt/stayloom/libexec/stayloom");
    // The build tree of this very build holds the real helpers.
    EXPECT_TRUE(search.locate(HelperNames::keepAwake).has_value());
    EXPECT_TRUE(search.locate(HelperNames::sleepSwitch).has_value());
}

TEST(HookSetup, HooksAreAddedBesideTheUsersOwnOnceAndTakenAwayAlone) {
    TemporaryDirectory folder;
    const auto home = folder.path();
    const HookSetupPlace place{home, home / ".config", "", "/usr/bin/stayloom"};
    const auto writeFile = [](const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    };
    // What each command printed and its exit status.
    const auto hooks = [&](HookSetup::Verb verb, std::vector<std::string> agents = {}) {
        std::FILE* output = std::tmpfile();
        std::FILE* errors = std::tmpfile();
        const int status = HookSetup::run(verb, agents, place, output, errors);
        const std::string printed = contents(output) + contents(errors);
        std::fclose(output);
        std::fclose(errors);
        return std::pair{status, printed};
    };
    const std::string claudeSettings = R"json({"hooks": {"Stop": [{"hooks": [{"type": "command",
        "command": "notify-send done"}]}]}})json";
    const std::string codexWithComments = "{\n  // mine\n  \"hooks\": {}\n}\n";
    writeFile(home / ".claude" / "settings.json", claudeSettings);
    writeFile(home / ".codex" / "hooks.json", codexWithComments);
    // A settings file that is a link to the user's dotfiles is not replaced by a file.
    writeFile(home / "dotfiles" / "qwen.json", "{}");
    std::filesystem::create_directories(home / ".qwen");
    std::filesystem::create_symlink(home / "dotfiles" / "qwen.json",
                                    home / ".qwen" / "settings.json");

    const auto [firstStatus, first] = hooks(HookSetup::Verb::install);
    EXPECT_EQ(firstStatus, 1) << first;
    EXPECT_NE(first.find("Claude Code: connected"), std::string::npos) << first;
    EXPECT_NE(first.find("Codex CLI: left " + (home / ".codex" / "hooks.json").string() +
                         " alone: it has comments"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("Qwen Code: left"), std::string::npos) << first;
    EXPECT_EQ(readFile(home / ".codex" / "hooks.json"), codexWithComments);
    EXPECT_TRUE(std::filesystem::is_symlink(home / ".qwen" / "settings.json"));
    EXPECT_EQ(readFile(home / "dotfiles" / "qwen.json"), "{}");
    const auto settings = QJsonDocument::fromJson(
        QByteArray::fromStdString(readFile(home / ".claude" / "settings.json")));
    const QJsonArray stop = settings[QStringLiteral("hooks")][QStringLiteral("Stop")].toArray();
    ASSERT_EQ(stop.size(), 2);
    EXPECT_EQ(stop[1][QStringLiteral("hooks")][0][QStringLiteral("command")].toString(),
              QStringLiteral("/usr/bin/stayloom hook claude Stop"));

    const std::string connected = readFile(home / ".claude" / "settings.json");
    const auto [againStatus, again] = hooks(HookSetup::Verb::install, {"claude"});
    EXPECT_EQ(againStatus, 0) << again;
    EXPECT_NE(again.find("Claude Code: already connected"), std::string::npos);
    EXPECT_EQ(readFile(home / ".claude" / "settings.json"), connected);

    // Codex's own file, once it can be edited: connected, with what the user still has to do.
    writeFile(home / ".codex" / "hooks.json", "");
    EXPECT_NE(hooks(HookSetup::Verb::install, {"codex"}).second.find("open /hooks and trust"),
              std::string::npos);
    const auto [statusStatus, status] = hooks(HookSetup::Verb::status);
    EXPECT_EQ(statusStatus, 0);
    EXPECT_NE(status.find("Claude Code: connected"), std::string::npos) << status;
    EXPECT_NE(status.find("; Codex runs it only once you trust it in its /hooks screen"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("Gemini CLI: not found"), std::string::npos) << status;

    EXPECT_EQ(hooks(HookSetup::Verb::remove, {"claude"}).first, 0);
    EXPECT_EQ(QJsonDocument::fromJson(
                  QByteArray::fromStdString(readFile(home / ".claude" / "settings.json"))),
              QJsonDocument::fromJson(QByteArray::fromStdString(claudeSettings)));
    EXPECT_NE(hooks(HookSetup::Verb::status).second.find("Claude Code: found, not connected"),
              std::string::npos);

    // An earlier version's entries: its turns only. Said so, and completed by an install.
    std::string turnsOnly = R"json({"hooks": {)json";
    for (const char* event : {"UserPromptSubmit", "Stop", "StopFailure", "SessionEnd"}) {
        turnsOnly +=
            std::string(turnsOnly.back() == '{' ? "" : ",") + "\"" + event +
            R"json(": [{"hooks": [{"type": "command", "command": "/usr/bin/stayloom hook claude )json" +
            event + "\"}]}]";
    }
    writeFile(home / ".claude" / "settings.json", turnsOnly + "}}");
    const std::string before = hooks(HookSetup::Verb::status, {"claude"}).second;
    EXPECT_NE(before.find("Claude Code: connected ("), std::string::npos) << before;
    EXPECT_NE(before.find("connected before Stayloom heard its tools and its questions to you"),
              std::string::npos)
        << before;
    hooks(HookSetup::Verb::install, {"claude"});
    const std::string after = hooks(HookSetup::Verb::status, {"claude"}).second;
    EXPECT_EQ(after.find("connected before"), std::string::npos) << after;
    const auto completed = QJsonDocument::fromJson(QByteArray::fromStdString(
        readFile(home / ".claude" / "settings.json")))[QStringLiteral("hooks")];
    EXPECT_EQ(completed[QStringLiteral("Notification")][0][QStringLiteral("matcher")].toString(),
              QStringLiteral("permission_prompt|elicitation_dialog"));
    EXPECT_TRUE(completed[QStringLiteral("PermissionRequest")].isArray());
    EXPECT_TRUE(completed[QStringLiteral("PreToolUse")].isArray());
}

namespace {

// An agent that saves its settings in bursts, each as fast as it can: each save reads the file,
// checks the user's keys and its own last save are there, and writes the file back, in place
// (truncate, then write) or through a renamed new copy. The two agents take turns (they would
// not race each other) and fall quiet together now and then, as agents do between turns; ours
// races both.
constexpr const char* savingAgent = R"py(
import fcntl, json, os, sys, time
path, how, lock, stop, out = sys.argv[1:6]
key = "saves-" + how
last = lost = undone = saves = 0
with open(lock, "w") as turn:
    while not os.path.exists(stop):
        fcntl.flock(turn, fcntl.LOCK_EX)
        with open(path) as f:
            doc = json.load(f)
        allow = doc.get("permissions", {}).get("allow", [])
        if doc.get("model") != "opus" or len(allow) != 3000:
            lost += 1
        if doc.get(key, 0) != last:
            undone += 1
        last += 1
        doc[key] = last
        text = json.dumps(doc, indent=2)
        if how == "in-place":
            with open(path, "w") as f:
                f.write(text)
        else:
            with open(path + ".agent", "w") as f:
                f.write(text)
            os.rename(path + ".agent", path)
        saves += 1
        fcntl.flock(turn, fcntl.LOCK_UN)
        time.sleep(0.001 if time.monotonic() % 1.0 < 0.6 else 1.0 - time.monotonic() % 1.0)
with open(out, "w") as f:
    f.write("%d %d %d" % (saves, lost, undone))
)py";

std::string userSettings() {
    nlohmann::json allow = nlohmann::json::array();
    for (int rule = 0; rule < 3000; ++rule) {
        allow.push_back("Bash(npm run test:unit -- --grep case-" + std::to_string(rule) + ")");
    }
    return nlohmann::json{{"model", "opus"}, {"permissions", {{"allow", allow}}}}.dump(2);
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(HookSetup, EditsRacingAnAgentsOwnSavesLoseNoneOfItsKeysAndUndoNoneOfItsSaves) {
    TemporaryDirectory folder;
    const auto home = folder.path();
    const HookSetupPlace place{home, home / ".config", "", "/usr/bin/stayloom"};
    const auto settings = home / ".claude" / "settings.json";
    folder.write(".claude/settings.json", userSettings());
    const auto script = folder.write("agent.py", savingAgent);
    const auto stop = home / "stop";
    std::vector<std::unique_ptr<ChildProcess>> agents;
    for (const char* how : {"in-place", "renamed"}) {
        agents.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
            "/usr/bin/python3", script.string(), settings.string(), how, (home / "turn").string(),
            stop.string(), (home / how).string()}));
    }
    // A few seconds in the suite; STAYLOOM_HOOK_RACE_SECONDS runs it for as long as asked.
    const char* asked = std::getenv("STAYLOOM_HOOK_RACE_SECONDS");
    const auto length = std::chrono::seconds(asked != nullptr ? std::atoi(asked) : 3);
    std::map<std::string, int> outcomes;
    const auto until = std::chrono::steady_clock::now() + length;
    for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
        const auto result = round % 2 == 0 ? HookSetup::connect(place, "claude")
                                           : HookSetup::disconnect(place, "claude");
        // A file that kept changing is left for another time; nothing else may go wrong.
        const bool gaveUp = result.text.find("kept changing") != std::string::npos;
        EXPECT_TRUE(!result.failed || gaveUp) << result.text;
        ++outcomes[result.failed ? "gave up" : round % 2 == 0 ? "connected" : "disconnected"];
    }
    std::ofstream(stop) << "";
    for (const char* how : {"in-place", "renamed"}) {
        const auto results = home / how;
        for (int wait = 0; wait < 500 && !std::filesystem::exists(results); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        int saves = 0;
        int lost = 0;
        int undone = 0;
        std::istringstream(readFile(results)) >> saves >> lost >> undone;
        EXPECT_GT(saves, 0) << how;
        EXPECT_EQ(lost, 0) << how << " agent found its keys gone " << lost << " times";
        EXPECT_EQ(undone, 0) << how << " agent found " << undone << " of its saves undone";
        std::printf("%s agent: %d saves, %d lost keys, %d undone\n", how, saves, lost, undone);
    }
    std::printf("edits: %d connected, %d disconnected, %d gave up\n", outcomes["connected"],
                outcomes["disconnected"], outcomes["gave up"]);
    EXPECT_GT(outcomes["connected"] + outcomes["disconnected"], 0);
    const auto last = nlohmann::json::parse(readFile(settings));
    EXPECT_EQ(last["model"], "opus");
    EXPECT_EQ(last["permissions"]["allow"].size(), 3000u);
    EXPECT_EQ(folderEntries(home / ".claude"), std::vector<std::string>{"settings.json"});
}

TEST(HookSetup, LinksReadOnlyFilesAndOtherUsersFilesAreLeftAloneOrKeepTheirOwnerGroupAndMode) {
    TemporaryDirectory folder;
    const auto home = folder.path();
    const HookSetupPlace place{home, home / ".config", "", "/usr/bin/stayloom"};
    const std::string settings = R"json({"model": "opus"})json";
    // A file with another hard link, and a read-only file: replacing either would go behind the
    // user's back (the other name keeps the old text; the file was made read-only on purpose).
    folder.write(".claude/settings.json", settings);
    std::filesystem::create_hard_link(home / ".claude" / "settings.json", home / "claude-backup");
    folder.write(".gemini/settings.json", settings);
    ::chmod((home / ".gemini" / "settings.json").c_str(), 0444);
    // A temporary copy a killed run left behind is swept; a live run's is not.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    const std::string stale = ".hooks.json.stayloom-" + std::to_string(gone) + ".1";
    const std::string live = ".hooks.json.stayloom-" + std::to_string(::getpid()) + ".2";
    folder.write(".codex/" + stale, "{}");
    folder.write(".codex/" + live, "{}");

    const auto claude = HookSetup::connect(place, "claude");
    EXPECT_TRUE(claude.failed);
    EXPECT_NE(claude.text.find("it has other hard links"), std::string::npos) << claude.text;
    const auto gemini = HookSetup::connect(place, "gemini");
    EXPECT_TRUE(gemini.failed);
    EXPECT_NE(gemini.text.find("it is read-only"), std::string::npos) << gemini.text;
    EXPECT_EQ(readFile(home / ".claude" / "settings.json"), settings);
    EXPECT_EQ(readFile(home / "claude-backup"), settings);
    EXPECT_EQ(readFile(home / ".gemini" / "settings.json"), settings);
    EXPECT_FALSE(HookSetup::connect(place, "codex").failed);
    EXPECT_EQ(folderEntries(home / ".codex"), (std::vector<std::string>{live, "hooks.json"}));

    // As root on another user's file (sudo -E): the file stays theirs, in its group and mode,
    // and their agent can still read it.
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act on another user's file";
    }
    ::chmod(home.c_str(), 0755);
    const auto theirs = home / "theirs";
    std::filesystem::create_directories(theirs / ".qwen");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 100), 0);
    ASSERT_EQ(::chown((theirs / ".qwen").c_str(), 65534, 100), 0);
    const auto file = theirs / ".qwen" / "settings.json";
    ASSERT_EQ(std::system(("setpriv --reuid=65534 --regid=100 --clear-groups sh -c "
                           "'umask 077; echo \"{\\\"model\\\": \\\"qwen3\\\"}\" > " +
                           file.string() + " && chmod 0640 " + file.string() + "'")
                              .c_str()),
              0);
    const HookSetupPlace theirPlace{theirs, theirs / ".config", "", "/usr/bin/stayloom"};
    for (const auto& result :
         {HookSetup::connect(theirPlace, "qwen"), HookSetup::connect(theirPlace, "copilot")}) {
        EXPECT_FALSE(result.failed) << result.text;
    }
    for (const auto& written : {file, theirs / ".copilot" / "hooks" / "stayloom.json",
                                theirs / ".copilot" / "hooks", theirs / ".copilot"}) {
        struct stat status {};
        ASSERT_EQ(::stat(written.c_str(), &status), 0) << written;
        EXPECT_EQ(status.st_uid, 65534u) << written;
        EXPECT_EQ(status.st_gid, 100u) << written;
    }
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(std::system(("setpriv --reuid=65534 --regid=100 --clear-groups grep -q "
                           "'hook qwen' " +
                           file.string())
                              .c_str()),
              0);
    EXPECT_TRUE(HookSetup::list(theirPlace)[3].connected);
}

TEST(SignalQuit, FirstSignalRequestsQuitOnceAndEarlierHandlersComeBack) {
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

TEST(SystemdLoginItemService,
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
    SystemdLoginItemService service(units, {}, program, (folder.path() / "systemctl").string(),
                                    runner, logger);
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
    LoginItemPair headless(std::make_unique<SystemdLoginItemService>(
                               units, std::vector<std::filesystem::path>{}, program,
                               (folder.path() / "systemctl").string(), runner, logger),
                           std::make_unique<XdgLoginItemService>(autostart));
    EXPECT_EQ(headless.status(), LoginItemStatus::enabled);
    ASSERT_NO_THROW(headless.unregisterItem());
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(headless.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(readFile(calls), "--user daemon-reload\n--user daemon-reload\n")
        << "no unit, nothing to reload";
}

TEST(SystemdLoginItemService, AnInstalledUnitIsEnabledNotShadowedAndReadsOnWhenEnabledByHand) {
    const std::string systemctl = "/usr/bin/systemctl";
    if (::access(systemctl.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "needs systemctl";
    }
    TemporaryDirectory folder;
    const auto installed = folder.path() / "share" / "systemd" / "user";
    const auto units = folder.path() / "config" / "systemd" / "user";
    const auto program = folder.path() / "bin" / "stayloom";
    writeProgram(program, 0755);
    folder.write("share/systemd/user/stayloom.service",
                 "[Unit]\nDescription=installed\n[Service]\nExecStart=" + program.string() +
                     "\n[Install]\nWantedBy=default.target\n");
    // The real systemctl, on this test's folders: without a user manager to ask it reads and
    // links the unit files itself, as `systemctl --user` does with one.
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    for (const auto& [name, value] :
         std::vector<std::pair<const char*, std::optional<std::string>>>{
             {"HOME", folder.path().string()},
             {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
             {"XDG_DATA_DIRS", (folder.path() / "share").string()},
             {"XDG_RUNTIME_DIR", std::nullopt},
             {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}}) {
        const char* previous = std::getenv(name);
        saved.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ProcessCommandRunner runner(10);
    FileLogger logger(folder.path() / "log");
    const auto isEnabled = [&] {
        try {
            return runner
                .run(ShellCommand{systemctl,
                                  {"--user", "is-enabled", "stayloom.service"},
                                  {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"}})
                .standardOutput;
        } catch (const CommandRunnerError& error) {
            return error.result().standardOutput;
        }
    };
    SystemdLoginItemService service(units, {installed}, program.string(), systemctl, runner,
                                    logger);
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);

    ASSERT_NO_THROW(service.registerItem());
    EXPECT_EQ(service.status(), LoginItemStatus::enabled);
    EXPECT_FALSE(std::filesystem::exists(units / "stayloom.service"))
        << "no unit of our own shadows the installed one";
    EXPECT_EQ(std::filesystem::canonical(units / "default.target.wants" / "stayloom.service"),
              std::filesystem::canonical(installed / "stayloom.service"));
    EXPECT_EQ(isEnabled(), "enabled\n");

    ASSERT_NO_THROW(service.unregisterItem());
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(isEnabled(), "disabled\n");

    // Enabled by hand, as the README tells people without a desktop: the setting reads on.
    runner.run(ShellCommand{systemctl,
                            {"--user", "enable", "stayloom.service"},
                            {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"}});
    EXPECT_EQ(
        SystemdLoginItemService(units, {installed}, program.string(), systemctl, runner, logger)
            .status(),
        LoginItemStatus::enabled);
    ASSERT_NO_THROW(service.unregisterItem());
    EXPECT_EQ(isEnabled(), "disabled\n");

    // A copy the package did not install runs from a unit of its own, named to win over the
    // installed one; switching off removes it again.
    const auto copy = folder.path() / "build" / "Stayloom";
    writeProgram(copy, 0755);
    SystemdLoginItemService built(units, {installed}, copy.string(), systemctl, runner, logger);
    ASSERT_NO_THROW(built.registerItem());
    EXPECT_NE(readFile(units / "stayloom.service").find("ExecStart=\"" + copy.string() + "\""),
              std::string::npos);
    EXPECT_EQ(built.status(), LoginItemStatus::enabled);
    ASSERT_NO_THROW(built.unregisterItem());
    EXPECT_FALSE(std::filesystem::exists(units / "stayloom.service"));
    EXPECT_EQ(built.status(), LoginItemStatus::notRegistered);

    for (const auto& [name, value] : saved) {
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
}

TEST(DisplayProbe, UsesOnlyADisplayThatAnswersAndThatQtCanDrive) {
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
    /// `capabilities`: what the server says it shows, its template's own list when empty.
    explicit PrivateNotificationServer(const std::string& capabilities = {})
        : address_("unix:path=" + (folder_.path() / "bus").string()),
          bus_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + address_}) {
        for (int attempt = 0; attempt < 200 && !std::filesystem::exists(folder_.path() / "bus");
             ++attempt) {
            ::usleep(25'000);
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        std::vector<std::string> command{
            "/usr/bin/python3",    "-m", "dbusmock",        "--template",
            "notification_daemon", "-l", callLog().string()};
        if (!capabilities.empty()) {
            command.insert(command.end(), {"-p", "{\"capabilities\": \"" + capabilities + "\"}"});
        }
        server_ = std::make_unique<ChildProcess>(command);
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
        for (const std::string& line : linesOf(readFile(callLog()))) {
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
                         settings, 1000 + 12 * 60 + 5, 12 * 60 + 5);
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
                      "\"Agents finished\" \"Claude Code worked 12 min 5 s. The computer may "
                      "sleep again.\"" +
                      tail,
                  head + "1" + icon +
                      "\"Battery low — keep-awake stopped\" \"The battery is at 4%, below the "
                      "cutoff. The computer may sleep again.\"" +
                      tail}));
    EXPECT_TRUE(loggedMessages(logger).empty()) << ::testing::PrintToString(loggedMessages(logger));
}

TEST(DesktopNotifications, WhereTheServerShowsButtonsThePressOnOurNoticeReachesTheHandler) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon") ||
        std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
        GTEST_SKIP() << "BUS UNAVAILABLE: needs dbus-daemon and python3-dbusmock";
    }
    PrivateNotificationServer server("body actions");
    ASSERT_TRUE(server.ready());
    TemporaryDirectory folder;
    FileLogger logger(folder.path() / "stayloom.log");
    std::mutex lock;
    std::vector<std::string> pressed;
    {
        DesktopNotifier desktop(logger, folder.path() / "no-sandbox");
        desktop.setActionHandler([&](const std::string& key) {
            std::lock_guard guard(lock);
            pressed.push_back(key);
        });
        desktop.show(Notice{"Agents finished",
                            "Claude Code worked 35 s.",
                            {{"sleep-now", "Sleep now"}, {"keep-awake-30", "Keep awake"}}});
        for (int wait = 0; wait < 200 && server.notifyCalls().empty(); ++wait) {
            ::usleep(25'000);
        }
        ASSERT_EQ(server.notifyCalls().size(), 1u);
        EXPECT_NE(server.notifyCalls()[0].find(
                      "[\"sleep-now\", \"Sleep now\", \"keep-awake-30\", \"Keep awake\"]"),
                  std::string::npos)
            << server.notifyCalls()[0];
        // Another program's notice is not ours; then the user presses a button on ours (id 1).
        const auto invoke = [](int id, const char* key) {
            const std::string command =
                "/usr/bin/dbus-send --session --type=signal /org/freedesktop/Notifications "
                "org.freedesktop.Notifications.ActionInvoked uint32:" +
                std::to_string(id) + " string:" + key;
            return std::system(command.c_str());
        };
        ASSERT_EQ(invoke(7, "sleep-now"), 0);
        ASSERT_EQ(invoke(1, "keep-awake-30"), 0);
        for (int wait = 0; wait < 200; ++wait) {
            {
                std::lock_guard guard(lock);
                if (!pressed.empty()) {
                    break;
                }
            }
            ::usleep(25'000);
        }
    }
    EXPECT_EQ(pressed, std::vector<std::string>{"keep-awake-30"});
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

TEST(BundleUpdater, StartsTheControllerOnlyWithAFeedAndLogsOnceEitherWay) {
    TemporaryDirectory folder;
    FileLogger logger(folder.path() / "stayloom.log");
    int started = 0;
    const auto controller = [&started] {
        ++started;
        return started == 1;
    };
    macos::bundleUpdaterStart(std::nullopt, controller, logger)();
    macos::bundleUpdaterStart("https://example.invalid/feed", nullptr, logger)();
    EXPECT_EQ(started, 0) << "no feed, no controller";
    macos::bundleUpdaterStart("https://example.invalid/feed", controller, logger)();
    macos::bundleUpdaterStart("https://example.invalid/feed", controller, logger)();
    EXPECT_EQ(started, 2);
    const std::string notStarted =
        "Updater: no SUFeedURL in Info.plist (dev build) — Sparkle not started";
    EXPECT_EQ(
        loggedMessages(logger),
        (std::vector<std::string>{notStarted, notStarted, "Updater started (auto-check: true)",
                                  "Updater started (auto-check: false)"}));
}

TEST(UserLanguage, FollowsTheMessagesLocaleAsGettextDoes) {
    struct Case {
        const char* label;
        std::map<std::string, std::string> environment;
        QStringList languages;
    };
    const std::vector<Case> cases = {
        {"nothing set", {}, {}},
        {"the C locale ignores LANGUAGE", {{"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}}, {}},
        {"POSIX likewise", {{"LC_ALL", "POSIX"}, {"LANGUAGE", "de"}}, {}},
        {"LANG with its region, then the bare language",
         {{"LANG", "de_AT.UTF-8"}},
         {QStringLiteral("de_AT"), QStringLiteral("de")}},
        {"LC_MESSAGES before LANG",
         {{"LANG", "fr_FR.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8@euro"}},
         {QStringLiteral("de_DE"), QStringLiteral("de")}},
        {"LC_ALL before LC_MESSAGES",
         {{"LC_ALL", "de_CH.UTF-8"}, {"LC_MESSAGES", "fr_FR.UTF-8"}},
         {QStringLiteral("de_CH"), QStringLiteral("de")}},
        {"an empty LC_ALL counts as unset",
         {{"LC_ALL", ""}, {"LANG", "de_DE.UTF-8"}},
         {QStringLiteral("de_DE"), QStringLiteral("de")}},
        {"LANGUAGE's list first, the locale last",
         {{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "fr:en_GB::de"}},
         {QStringLiteral("fr"), QStringLiteral("en_GB"), QStringLiteral("en"), QStringLiteral("de"),
          QStringLiteral("de_DE")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const auto environment = [&c](const char* name) -> std::optional<std::string> {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? std::nullopt
                                                : std::optional<std::string>(found->second);
        };
        EXPECT_EQ(app::UserLanguage::preferredLanguages(environment), c.languages);
    }
}
