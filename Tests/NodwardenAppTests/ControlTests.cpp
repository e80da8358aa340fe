// The commands' side of the program on its own (control/): the per-user lock and its socket, an
// agent's hook, the command line's words, and the running program's answers to commands.

#include "AppSupport/AppModelHarness.hpp"
#include "AppSupport/Recording.hpp"
#include "AppSupport/SocketPeer.hpp"
#include "Support/LoggedMessages.hpp"

#include <NodwardenApp/control/CommandLine.hpp>
#include <NodwardenApp/control/ControlClient.hpp>
#include <NodwardenApp/control/ControlSocketPath.hpp>
#include <NodwardenApp/control/HookCommand.hpp>
#include <NodwardenApp/control/InstanceControl.hpp>
#include <NodwardenApp/control/SingleInstance.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QDateTime>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

TEST(SingleInstance, SecondHolderIsRefusedNamedAndAsksTheFirstToComeForward) {
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

TEST(SingleInstance, LockOfAnEndedProcessDoesNotBlockAndAStaleSocketIsReplaced) {
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

TEST(SingleInstance, ALinkWhereTheLockBelongsIsRefusedAndItsTargetLeftAlone) {
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

TEST(SingleInstance, ASocketPathTooLongForAnAddressMovesToTheRuntimeFolderForBothSides) {
    TemporaryDirectory root;
    const auto folder = root.path() / std::string(ControlSocketPath::maxLength(), 'f');
    const auto runtime = root.path() / "run";
    std::filesystem::create_directories(runtime);
    // The program and its commands both take the runtime folder from the environment.
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
    ASSERT_EQ(ControlSocketPath::runtimeFolderFromEnvironment(), runtime);
    savedRuntime.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", savedRuntime);

    FileLogger logger(root.path() / "log");
    SingleInstance first(folder, runtime, &logger);
    ASSERT_TRUE(first.socketPath().has_value());
    EXPECT_EQ(first.socketPath()->parent_path(), runtime);
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(std::filesystem::is_socket(*first.socketPath()));
    EXPECT_EQ(loggedMessages(logger),
              std::vector<std::string>{"The control socket path beside " + folder.string() +
                                       " is too long; listening at " +
                                       first.socketPath()->string()});
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

TEST(SingleInstance, APeerHoldingIdleConnectionsGetsBusyAnswersNotSilence) {
    TemporaryDirectory root;
    SingleInstance instance(root.path() / "state");
    ASSERT_TRUE(instance.acquire());
    instance.setRequestHandler([](const QJsonObject&) {
        return ControlReply{.body = QJsonObject{{QStringLiteral("ok"), true}}};
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

TEST(HookCommand, AHookPassesOnTheSessionAndNothingElseOfTheEvent) {
    using HookCommand::sessionOf;
    EXPECT_EQ(sessionOf(R"json({"session_id":"s1","cwd":"/home/u/p","hook_event_name":
        "UserPromptSubmit","prompt":"secret","transcript_path":"/x"})json"),
              "s1");
    EXPECT_EQ(sessionOf(R"json({"timestamp":1,"sessionId":"c-2","prompt":"secret"})json"), "c-2");
    EXPECT_EQ(sessionOf(R"json({"prompt":"secret"})json"), "");
    EXPECT_EQ(sessionOf(R"json({"session_id":"s1","prompt":"cut sh)json"), "");
    EXPECT_EQ(sessionOf("{\"session_id\":\"" + std::string(300, 'x') + "\"}"), "");

    const auto request =
        QJsonDocument::fromJson(
            QByteArray::fromStdString(HookCommand::requestLine({"claude", "Stop", "s1", 42, 7})))
            .object();
    EXPECT_EQ(request.keys(), (QStringList{QStringLiteral("agent"), QStringLiteral("command"),
                                           QStringLiteral("event"), QStringLiteral("pid"),
                                           QStringLiteral("session"), QStringLiteral("start")}));
    EXPECT_EQ(request.value(QStringLiteral("pid")).toInt(), 42);
}

using Action = CommandLineRequest::Action;

/// The words after the program's name, as `main` hands them over.
CommandLineRequest parsed(const char* words) {
    CommandLine commandLine;
    return commandLine.parse(QStringList{QStringLiteral("stayloom")} +
                             QString::fromUtf8(words).split(u' ', Qt::SkipEmptyParts));
}

TEST(CommandLine, WordsBecomeTheRequestTheProgramActsOn) {
    EXPECT_EQ(parsed("").action, Action::run);
    EXPECT_EQ(parsed("-h").action, Action::help);
    EXPECT_EQ(parsed("--version").action, Action::version);
    EXPECT_TRUE(parsed("status --json").json);
    EXPECT_EQ(parsed("mode").action, Action::mode);
    EXPECT_FALSE(parsed("mode").mode.has_value()) << "mode alone asks for the mode in force";
    EXPECT_EQ(parsed("mode sleep-after").mode, AppMode::sleepAfterCurrentWork);
    EXPECT_EQ(parsed("awake --for 1h30m").seconds, 5400);
    EXPECT_EQ(parsed("awake --for 90s").seconds, 90);
    EXPECT_TRUE(parsed("status --quiet").quiet);
    EXPECT_EQ(parsed("events --json").action, Action::events);
    EXPECT_TRUE(parsed("events --json").json);
    EXPECT_FALSE(parsed("launch-at-login").enabled.has_value()) << "alone it asks";
    EXPECT_EQ(parsed("launch-at-login").action, Action::launchAtLogin);
    // After "--" the command's own options are its, not ours.
    const CommandLineRequest run = parsed("run -- make --json");
    EXPECT_EQ(run.action, Action::runCommand);
    EXPECT_EQ(run.command, (std::vector<std::string>{"make", "--json"}));
    const CommandLineRequest hooks = parsed("hooks remove claude codex");
    EXPECT_EQ(hooks.hooksVerb, HookSetup::Verb::remove);
    EXPECT_EQ(hooks.agents, (std::vector<std::string>{"claude", "codex"}));
    EXPECT_EQ(parsed("launch-at-login on").enabled, true);
    EXPECT_EQ(parsed("launch-at-login off").enabled, false);
}

TEST(CommandLine, WordsItCannotUseAreRefusedSayingWhy) {
    const std::vector<std::pair<const char*, QString>> refusals = {
        {"mode sometimes",
         QStringLiteral("mode needs one of: watch, manual, sleep-after, unlimited, off.")},
        {"awake --for soon", QStringLiteral("awake needs --for")},
        {"awake --for 169h", QStringLiteral("(at most a week)")},
        {"status now", QStringLiteral("“status” takes no further words, but got “now”.")},
        {"quit --json", QStringLiteral("--json goes with the status and events commands.")},
        {"mode --quiet", QStringLiteral("--quiet goes with the status command.")},
        {"status --quiet --json", QStringLiteral("leave out --json")},
        {"mode --for 2h", QStringLiteral("--for goes with the awake command.")},
        {"hooks install vim", QStringLiteral("Unknown agent “vim”: one of claude, ")},
        {"hooks status claude", QStringLiteral("hooks needs install")},
        {"run", QStringLiteral("run needs a command")},
        {"launch-at-login maybe", QStringLiteral("launch-at-login takes on, off, or nothing")},
        {"sleep", QStringLiteral("Unknown command “sleep”.")},
        {"--bogus", QStringLiteral("bogus")},
    };
    for (const auto& [words, reason] : refusals) {
        const CommandLineRequest request = parsed(words);
        EXPECT_EQ(request.action, Action::invalid) << words;
        EXPECT_TRUE(request.error.contains(reason)) << words << ": " << request.error.toStdString();
    }
}

namespace {

/// What `shell` offers after `words` (the cursor after the last word), sorted, through the
/// completion file the package installs for it; none when the shell is not installed.
std::optional<std::vector<std::string>> completions(const std::string& shell,
                                                    const std::string& words) {
    const std::filesystem::path data = STAYLOOM_DATA_DIR "/completions";
    const std::string program = shell == "bash" ? "/bin/bash" : "/usr/bin/" + shell;
    if (!std::filesystem::exists(program)) {
        return std::nullopt;
    }
    TemporaryDirectory folder;
    const auto out = folder.path() / "out";
    std::string command;
    if (shell == "bash") {
        // The function the file registers with `complete -F`, handed the words as bash would.
        std::string array = words;
        if (array.ends_with(' ')) {
            array += "\"\"";
        }
        command = "/bin/bash -c 'source " + (data / "stayloom.bash").string() + "; COMP_WORDS=(" +
                  array +
                  "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _stayloom; "
                  "printf \"%s\\n\" \"${COMPREPLY[@]}\"' > " +
                  out.string();
    } else if (shell == "fish") {
        command = "/usr/bin/fish -c 'source " + (data / "stayloom.fish").string() +
                  "; complete -C \"" + words + "\"' > " + out.string();
    } else {
        command = "/usr/bin/zsh -f " STAYLOOM_ZSH_COMPLETE " " + data.string() + " '" + words +
                  "' " + out.string() + " > /dev/null";
    }
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::set<std::string> offered;
    for (const std::string& line : linesOf(readFile(out))) {
        // fish prints the word, a tab and its description; zsh's lists are framed.
        const std::string word = line.substr(0, line.find('\t'));
        if (!word.empty() && word != "<<" && word != ">>") {
            offered.insert(word);
        }
    }
    return std::vector<std::string>(offered.begin(), offered.end());
}

} // namespace

TEST(Completions, EachShellCompletesTheCommandsAndTheModes) {
    for (const std::string shell : {"bash", "zsh", "fish"}) {
        SCOPED_TRACE(shell);
        const auto commands = completions(shell, "stayloom ");
        if (!commands) {
            continue;
        }
        EXPECT_EQ(*commands,
                  (std::vector<std::string>{"accept-terms", "awake", "events", "hooks",
                                            "launch-at-login", "mode", "quit", "run", "status"}));
        EXPECT_EQ(completions(shell, "stayloom mode "),
                  (std::vector<std::string>{"manual", "off", "sleep-after", "unlimited", "watch"}));
        EXPECT_EQ(completions(shell, "stayloom ev"), std::vector<std::string>{"events"});
        EXPECT_EQ(completions(shell, "stayloom launch-at-login "),
                  (std::vector<std::string>{"off", "on"}));
        EXPECT_EQ(
            completions(shell, "stayloom hooks install "),
            (std::vector<std::string>{"claude", "codex", "copilot", "gemini", "opencode", "qwen"}));
    }
}

/// The running program's side of the commands, over a model made of fakes.
class InstanceControlRequests : public ::testing::Test {
protected:
    InstanceControlRequests() {
        harness.acceptTermsAndOnboarding();
        model = harness.makeModel();
        // A copy that has run a while: its first pass is weighed, so answers come at once.
        harness.tickAndSettle(*model, 0);
        control = std::make_unique<InstanceControl>(
            *model,
            [this](AppMode mode) {
                chosen.push_back(mode);
                model->setMode(mode);
            },
            nullptr);
    }

    /// The reply to one request line.
    ControlReply handle(const char* json) {
        return control->handle(QJsonDocument::fromJson(json).object());
    }
    static QString field(const ControlReply& reply, const char* key) {
        return reply.body.value(QStringLiteral("status"))[QLatin1String(key)].toString();
    }

    AppModelHarness harness;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<InstanceControl> control;
    std::vector<AppMode> chosen;
};

TEST_F(InstanceControlRequests, CommandsTakeTheModelsOwnPathsAndAnswerWithTheStatus) {
    const ControlReply off = handle(R"({"command":"mode","mode":"off"})");
    EXPECT_TRUE(off.body.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(chosen, std::vector<AppMode>{AppMode::off}) << "the picker's path, not setMode alone";
    EXPECT_EQ(field(off, "mode"), QStringLiteral("off"));

    // A timed keep-awake, as `stayloom awake --for 1h30m` asks: manual until the end, then off.
    const ControlReply awake = handle(R"({"command":"awake","seconds":5400})");
    EXPECT_EQ(field(awake, "mode"), QStringLiteral("manual"));
    EXPECT_EQ(field(awake, "modeAfter"), QStringLiteral("off"));
    EXPECT_EQ(QDateTime::fromString(field(awake, "keepAwakeUntil"), Qt::ISODate).toSecsSinceEpoch(),
              std::llround(unixTimeFromDate(harness.clock.now()) + 5400));

    handle(R"({"command":"launch-at-login","enabled":true})");
    EXPECT_EQ(harness.loginItems.registerCount(), 1);
    const ControlReply quit = handle(R"({"command":"quit"})");
    EXPECT_TRUE(quit.body.value(QStringLiteral("ok")).toBool());
    EXPECT_TRUE(quit.afterReply) << "quitting waits until the answer is written";
}

TEST_F(InstanceControlRequests, RequestsItCannotUseChangeNothing) {
    const std::vector<std::pair<const char*, QString>> refusals = {
        {R"({"command":"mode","mode":"sometimes"})", QStringLiteral("unknown mode")},
        {R"({"command":"awake","seconds":0})", QStringLiteral("awake needs seconds")},
        {R"({"command":"awake","seconds":691200})", QStringLiteral("awake needs seconds")},
        {R"({"command":"awake","seconds":"5400"})", QStringLiteral("awake needs seconds")},
        {R"({"command":"launch-at-login","enabled":"yes"})",
         QStringLiteral("launch-at-login needs true or false")},
        {R"({"command":"run","event":"started","name":"make","pid":-1})",
         QStringLiteral("run needs")},
        {R"({"command":"sleep"})", QStringLiteral("unknown command")},
    };
    const AppMode before = model->mode();
    for (const auto& [request, error] : refusals) {
        const QJsonObject reply = handle(request).body;
        EXPECT_FALSE(reply.value(QStringLiteral("ok")).toBool()) << request;
        EXPECT_TRUE(reply.value(QStringLiteral("error")).toString().startsWith(error)) << request;
    }
    EXPECT_TRUE(chosen.empty());
    EXPECT_EQ(model->mode(), before);
    EXPECT_FALSE(model->timedKeepAwake().until().has_value());
    EXPECT_EQ(harness.loginItems.registerCount(), 0);
}

// `stayloom accept-terms` on a copy that waited for them: the first pass is still under way, and
// an answer given at once printed "Terms accepted." over a status asking for the terms.
TEST(InstanceControlFirstDecision, AcceptingTheTermsAnswersOnceTheFirstPassIsWeighed) {
    AppModelHarness harness;
    harness.storeMode(AppMode::manualKeepAwake);
    auto model = harness.makeModel();
    model->start();
    InstanceControl control(
        *model, [&](AppMode mode) { model->setMode(mode); }, nullptr);

    const ControlReply reply =
        control.handle(QJsonDocument::fromJson(R"({"command":"accept-terms"})").object());
    ASSERT_TRUE(reply.bodyLater) << "answered before any pass was weighed";
    std::optional<QJsonObject> answer;
    reply.bodyLater([&](const QJsonObject& body) { answer = body; });
    ASSERT_TRUE(AppModelHarness::processEventsUntil([&] { return answer.has_value(); }));
    const QJsonObject status = answer->value(QStringLiteral("status")).toObject();
    EXPECT_EQ(status.value(QStringLiteral("statusName")).toString(),
              QStringLiteral("Keeping Awake"));
    EXPECT_NE(status.value(QStringLiteral("reason")).toString().toStdString(),
              AppModel::legalPendingReason);

    // Once a pass has been weighed a change is weighed at once, and answered so.
    EXPECT_FALSE(
        control.handle(QJsonDocument::fromJson(R"({"command":"mode","mode":"off"})").object())
            .bodyLater);
}
