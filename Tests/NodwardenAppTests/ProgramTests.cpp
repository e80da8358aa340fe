// The real Stayloom binary, started headless on a simulated machine.

#include "AppSupport/AppModelHarness.hpp"
#include "AppSupport/FakeMachine.hpp"
#include "AppSupport/ProgramRun.hpp"
#include "AppSupport/SocketPeer.hpp"
#include "NodwardenCoreTests/UsageMetricsTestSupport.hpp"

#include <NodwardenApp/control/InstanceControl.hpp>
#include <NodwardenApp/control/SingleInstance.hpp>
#include <NodwardenApp/model/StoredDocument.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenApp/terminal/HeadlessWindowPresenter.hpp>
#include <NodwardenApp/terminal/TerminalModePrompt.hpp>
#include <NodwardenApp/terminal/TerminalTermsPrompt.hpp>

#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/detection/ActivityDetector.hpp>
#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/detection/SessionActivityDetector.hpp>
#include <NodwardenCore/hooks/HookWitness.hpp>

#include "Support/ChildProcess.hpp"
#include "Support/FakeAccessibilityPlatform.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>

using namespace nodwarden;
using namespace stayloom::testing;

namespace {

/// A machine with a copy of the real program in its bin folder, so it finds the machine's fake
/// helpers in ../libexec/stayloom as an installed copy finds its own.
class InstalledProgram {
public:
    InstalledProgram() {
        std::filesystem::create_directories(machine.root() / "bin");
        std::filesystem::copy_file(STAYLOOM_PROGRAM_PATH, program());
    }
    std::filesystem::path program() const { return machine.root() / "bin" / "Stayloom"; }

    FakeMachine machine;
};

/// Calls `visit(pid, fields)` for every process in /proc, `fields` being its stat fields after
/// the command name (the state first, then the parent's pid).
template <typename Visit> void forEachProcessStat(Visit&& visit) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string stat = readFile(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 2));
        visit(pid_t(std::stoi(name)),
              std::vector<std::string>{std::istream_iterator<std::string>(fields), {}});
    }
}

/// Processes whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    forEachProcessStat([&](pid_t pid, const std::vector<std::string>& fields) {
        if (fields.size() > 1 && std::stoi(fields[1]) == parent) {
            children.push_back(pid);
        }
    });
    return children;
}

/// Processes whose parent is this test program. Run as a subreaper, anything the program leaves
/// behind when it ends is reparented here and shows up.
std::vector<pid_t> childrenOfThisProcess() {
    return childrenOf(::getpid());
}

class Program : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

    int devNull() {
        null_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        return null_;
    }
    void TearDown() override {
        if (null_ >= 0) {
            ::close(null_);
        }
    }

    int null_ = -1;
};

} // namespace

TEST_F(Program, HeadlessRunPrintsStatusAndEndsItsKeepAwakeChildOnTerminate) {
    InstalledProgram installed;
    installed.machine.storeSettings(AppMode::manualKeepAwake, GuardSettings::defaults());

    ProgramRun run(installed.program(), installed.machine.home(), devNull());
    ASSERT_TRUE(run.waitForOutput("Keeping Awake — ")) << run.output() << run.errors();
    const std::string line = run.output().substr(run.output().find("Keeping Awake — "));
    // Agents running elsewhere on this machine may show in the count; the form is fixed.
    EXPECT_TRUE(std::regex_search(
        line, std::regex("^Keeping Awake — [^\n]+ · (none detected|[0-9]+ working)\n")))
        << line;
    for (int wait = 0; wait < 100 && installed.machine.keepAwakeStarts().empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(installed.machine.keepAwakeStarts().size(), 1u);
    const pid_t hold = installed.machine.keepAwakeStarts().front();
    EXPECT_TRUE(processIsLive(hold));
    // Without a display the desktop face's module, and the GUI libraries only it links, stay
    // unloaded: they are most of a headless run's memory.
    const std::string maps = readFile("/proc/" + std::to_string(run.pid()) + "/maps");
    ASSERT_NE(maps.find("libQt6Core.so"), std::string::npos) << maps;
    for (const char* guiLibrary : {"libQt6Gui.so", "libQt6Widgets.so", "stayloom-desktop.so"}) {
        EXPECT_EQ(maps.find(guiLibrary), std::string::npos) << guiLibrary << " is mapped";
    }

    const auto status = run.stop(SIGTERM, 5);
    ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM";
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by a signal: " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 0) << run.errors();
    EXPECT_EQ(installed.machine.countRecorded("stayloom-inhibit", "stop " + std::to_string(hold)),
              1);
    EXPECT_EQ(childrenOfThisProcess(), std::vector<pid_t>()) << "a child outlived the program";
    EXPECT_FALSE(std::filesystem::exists(installed.machine.stateFolder() / "caffeinate.pid"));
    const std::string log = readFile(installed.machine.stateFolder() / "stayloom.log");
    EXPECT_NE(log.find("] Application terminating\n"), std::string::npos);
    // The helper's notes are the log's; the terminal shows only the status lines.
    EXPECT_NE(log.find("] stayloom-inhibit: holding until SIGTERM or SIGINT\n"), std::string::npos);
    EXPECT_NE(log.find("] stayloom-inhibit: note: no session bus"), std::string::npos);
    EXPECT_EQ((run.output() + run.errors()).find("stayloom-inhibit"), std::string::npos)
        << run.output() << run.errors();
}

TEST_F(Program, SecondStartForTheSameUserIsRefusedAndTheFirstKeepsRunning) {
    InstalledProgram installed;
    installed.machine.storeSettings(AppMode::off, GuardSettings::defaults());

    ProgramRun first(installed.program(), installed.machine.home(), devNull());
    ASSERT_TRUE(first.waitForOutput("Off — ")) << first.errors();

    ProgramRun second(installed.program(), installed.machine.home(), devNull());
    const auto refused = second.waitForExit(10);
    ASSERT_TRUE(refused.has_value());
    ASSERT_TRUE(WIFEXITED(*refused));
    EXPECT_EQ(WEXITSTATUS(*refused), 1);
    EXPECT_NE(second.errors().find("Stayloom is already running for this user (process " +
                                   std::to_string(first.pid()) + ")"),
              std::string::npos)
        << second.errors();
    EXPECT_EQ(second.output(), "");
    EXPECT_TRUE(processIsLive(first.pid()));

    const auto status = first.stop(SIGINT, 5);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    // Once the first has ended, the next start runs.
    ProgramRun third(installed.program(), installed.machine.home(), devNull());
    EXPECT_TRUE(third.waitForOutput("Off — ")) << third.errors();
    EXPECT_TRUE(third.stop(SIGTERM, 5).has_value());
}

struct FirstRunCase {
    const char* name;
    ProgramRun::Seat seat;
    /// Typed at the terms question; none when it must not be asked.
    const char* answer;
    /// Why the question cannot be asked, as the program says it.
    const char* cannotAsk;
};

// CTest lists each case by this text rather than by its bytes.
void PrintTo(const FirstRunCase& example, std::ostream* out) {
    *out << example.name;
}

class ProgramFirstRun : public Program, public ::testing::WithParamInterface<FirstRunCase> {};

TEST_P(ProgramFirstRun, TermsAreAskedOnlyWhereSomeoneCanAnswerAndANoKeepsTheGuardPaused) {
    const FirstRunCase& example = GetParam();
    InstalledProgram installed;
    PseudoTerminal terminal;
    std::optional<ProgramRun> run;
    if (example.seat == ProgramRun::Seat::input) {
        run.emplace(installed.program(), installed.machine.home(), devNull());
    } else {
        run.emplace(installed.program(), installed.machine.home(), terminal, example.seat);
    }
    const std::string gated = "Accept the Terms & Privacy Policy to enable keep-awake.";
    if (example.answer != nullptr) {
        ASSERT_TRUE(run->waitForOutput(std::string(app::TerminalTermsPrompt::question())))
            << run->errors();
        EXPECT_EQ(run->output().rfind("Welcome to Stayloom\n", 0), 0u) << run->output();
        EXPECT_NE(run->output().find("Privacy Policy: file://"), std::string::npos)
            << "a copy on this computer, readable offline";
        terminal.type(example.answer);
        EXPECT_TRUE(run->waitForOutput(std::string(app::TerminalTermsPrompt::declined())));
        // The end of input (Ctrl+D) closes the question; the gated status follows.
        terminal.type("\x04");
        EXPECT_TRUE(run->waitForOutput(std::string(app::TerminalTermsPrompt::noAnswer())));
        EXPECT_TRUE(run->waitForOutput("Off — " + gated)) << run->output();
    } else {
        EXPECT_TRUE(run->waitForOutput("Off — " + gated)) << run->output();
        EXPECT_NE(run->errors().find(std::string("cannot ask for them here: ") + example.cannotAsk +
                                     ". "),
                  std::string::npos)
            << run->errors();
        EXPECT_NE(run->errors().find("\n  stayloom accept-terms\n  stayloom mode watch\n"),
                  std::string::npos);
        EXPECT_EQ(run->output().find(std::string(app::TerminalTermsPrompt::question())),
                  std::string::npos)
            << "a question nobody can see or answer";
    }
    ASSERT_TRUE(run->stop(SIGTERM, 5).has_value());
    EXPECT_EQ(readFile(installed.machine.settingsFile()).find("Stayloom.acceptedLegalVersion"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Seats, ProgramFirstRun,
    ::testing::Values(FirstRunCase{"no", ProgramRun::Seat::terminal, "n\n", nullptr},
                      FirstRunCase{"noTerminal", ProgramRun::Seat::input, nullptr,
                                   "its input is not a terminal"},
                      FirstRunCase{"outputRedirected", ProgramRun::Seat::outputRedirected, nullptr,
                                   "its output does not go to the terminal"}),
    [](const ::testing::TestParamInfo<FirstRunCase>& parameter) {
        return std::string(parameter.param.name);
    });

/// Words that only English has, as whole words; the product's and the agents' names and the
/// commands a user types ("stayloom mode watch") are left out before looking.
bool speaksEnglish(std::string text) {
    for (const char* kept : {"open-sessions-state.json", "stayloom accept-terms",
                             "stayloom mode watch", "stayloom mode", "Claude Code", "Codex CLI",
                             "Gemini CLI", "Qwen Code", "OpenCode", "Copilot CLI", "Stayloom"}) {
        for (auto at = text.find(kept); at != std::string::npos; at = text.find(kept)) {
            text.erase(at, std::strlen(kept));
        }
    }
    static const std::regex english(
        R"(\b(the|and|your|you|is|are|with|for|to|of|this|that|when|while|not|it|its|keep|keeps|)"
        R"(awake|sleep|settings|open|watch|watching|working|battery|power|lid|mode|quit|)"
        R"(done|agree|terms|privacy|policy|accept|answer|type|press|Return)\b)",
        std::regex::icase);
    return std::regex_search(text, english);
}

/// Every text in `value` and below it, with where it sits ("agents/0/reason").
void collectTexts(const QJsonValue& value, const std::string& at,
                  std::vector<std::pair<std::string, std::string>>& texts) {
    if (value.isString()) {
        texts.emplace_back(at, value.toString().toStdString());
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype index = 0; index < array.size(); ++index) {
            collectTexts(array.at(index), at + '/' + std::to_string(index), texts);
        }
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto entry = object.begin(); entry != object.end(); ++entry) {
            collectTexts(entry.value(), at + '/' + entry.key().toStdString(), texts);
        }
    }
}

/// Whether `text` reads as German: an umlaut or one of the catalogue's common words.
bool speaksGerman(const std::string& text) {
    static const std::regex german(
        R"((ä|ö|ü|ß|Ä|Ö|Ü)|\b(der|die|das|und|ist|nicht|kein|keiner|wach|gehalten|Beobachtet|)"
        R"(Deckel|Akku|Netzstrom|Netzteil|Unbekannt|unbekannt|Offen|offen|Geschlossen|)"
        R"(geschlossen|arbeitet|arbeiten|Agent|Agenten|Modus|Wartet|wartet|Sitzung)\b)");
    return std::regex_search(text, german);
}

/// The report of `stayloom status --json`; an empty object when the output is not one.
QJsonObject statusReport(const CommandOutcome& outcome) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(outcome.output)).object();
}

/// The agent row named `name` in a report; an empty object when there is none.
QJsonObject agentRow(const QJsonObject& report, const QString& name) {
    for (const QJsonValue& row : report.value(QStringLiteral("agents")).toArray()) {
        if (row.toObject().value(QStringLiteral("name")).toString() == name) {
            return row.toObject();
        }
    }
    return {};
}

TEST_F(Program, TheTerminalFaceSpeaksTheUsersLanguage) {
    InstalledProgram installed;
    PseudoTerminal terminal;
    // The messages locale as most desktops set it: LANG alone.
    ProgramRun run(installed.program(), installed.machine.home(), terminal,
                   ProgramRun::Seat::terminal, {"LC_ALL=", "LANG=de_DE.UTF-8"});
    ASSERT_TRUE(run.waitForOutput("(Strg+C beendet): ")) << run.output() << run.errors();
    const std::string terms = run.output();
    EXPECT_EQ(terms.rfind("Willkommen bei Stayloom\n", 0), 0u) << terms;
    // Every line but the documents' addresses, which are file names.
    std::istringstream lines(terms);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("file://") == std::string::npos) {
            EXPECT_FALSE(speaksEnglish(line)) << line;
        }
    }
    terminal.type("j\n");
    ASSERT_TRUE(run.waitForOutput("Modus [watch]: ")) << run.output();
    const std::size_t mark = run.output().size();
    terminal.type("\n");
    // The status line, read from the running copy in the user's words.
    ASSERT_TRUE(run.waitForOutput("Beobachtet — ", 15, mark)) << run.output() << run.errors();
    // People read `status` in their language; scripts read raw values and the program's own
    // English whatever the language of the copy or of the command.
    const std::vector<std::string> german = {"LC_ALL=", "LANG=de_DE.UTF-8"};
    const CommandOutcome text =
        runCommand(installed.program(), installed.machine.home(), {"status"}, 20, german);
    EXPECT_EQ(text.exitStatus, 0) << text.errors;
    EXPECT_EQ(text.output.rfind("Beobachtet — ", 0), 0u) << text.output;
    EXPECT_NE(text.output.find("\nModus: watch\n"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("\nDeckel: "), std::string::npos) << text.output;
    const CommandOutcome json =
        runCommand(installed.program(), installed.machine.home(), {"status", "--json"}, 20, german);
    const QJsonObject report = statusReport(json);
    EXPECT_EQ(report.value(QStringLiteral("statusName")), QStringLiteral("Watching"))
        << json.output;
    EXPECT_EQ(report.value(QStringLiteral("status")), QStringLiteral("watching")) << json.output;
    const QString lid = report.value(QStringLiteral("lid")).toString();
    EXPECT_TRUE(lid == u"open" || lid == u"closed" || lid == u"unknown") << json.output;
    std::vector<std::pair<std::string, std::string>> texts;
    collectTexts(report, "", texts);
    EXPECT_GT(texts.size(), 5u) << json.output;
    for (const auto& [at, value] : texts) {
        EXPECT_FALSE(speaksGerman(value)) << at << ": " << value;
    }
    EXPECT_TRUE(run.stop(SIGTERM, 5).has_value());
    EXPECT_NE(readFile(installed.machine.settingsFile()).find("Stayloom.acceptedLegalVersion"),
              std::string::npos)
        << "the language's own yes accepts";
}

TEST_F(Program, TerminalFirstRunEndsWatchingAndCommandsSteerTheRunningCopyUntilQuit) {
    InstalledProgram installed;
    const auto& home = installed.machine.home();
    PseudoTerminal terminal;
    ProgramRun run(installed.program(), home, terminal, ProgramRun::Seat::terminal);

    // Terms, then the mode with watch as the answer to a bare Return.
    ASSERT_TRUE(run.waitForOutput(std::string(app::TerminalTermsPrompt::question())))
        << run.errors();
    terminal.type("y\n");
    ASSERT_TRUE(run.waitForOutput(std::string(app::TerminalModePrompt::question())))
        << run.output();
    EXPECT_NE(run.output().find("  1  watch "), std::string::npos) << run.output();
    std::size_t mark = run.output().size();
    terminal.type("\n");
    ASSERT_TRUE(run.waitForOutput("Watching — ", 15, mark)) << run.output() << run.errors();
    const std::string stored = readFile(installed.machine.settingsFile());
    EXPECT_NE(stored.find("Nodwarden.mode=watchAgentUI"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Stayloom.hasCompletedOnboarding=true"), std::string::npos) << stored;

    // A busy process named like an agent is work.
    BusyAgent agent(installed.machine.agentProgram());
    ASSERT_TRUE(run.waitForOutput("Keeping Awake — ", 20, mark)) << run.output();

    // Peers that flood the socket or say nothing do not hold up the answers to others.
    const auto socketPath = installed.machine.stateFolder() / "Stayloom.socket";
    const int silent = connectSocketPeer(socketPath);
    const int flooding = connectSocketPeer(socketPath);
    const std::string flood(64 * 1024, 'x');
    ::send(flooding, flood.data(), flood.size(), MSG_DONTWAIT | MSG_NOSIGNAL);

    const CommandOutcome json = runCommand(installed.program(), home, {"status", "--json"}, 10);
    ASSERT_EQ(json.exitStatus, 0) << json.errors;
    const QJsonObject report = statusReport(json);
    EXPECT_EQ(report.value(QStringLiteral("status")).toString(), QStringLiteral("keepingAwake"))
        << json.output;
    EXPECT_EQ(report.value(QStringLiteral("mode")).toString(), QStringLiteral("watch"));
    EXPECT_EQ(report.value(QStringLiteral("pid")).toInteger(), run.pid());
    const QJsonObject claude = agentRow(report, QStringLiteral("Claude Code"));
    EXPECT_EQ(claude.value(QStringLiteral("state")).toString(), QStringLiteral("working"))
        << json.output;
    EXPECT_TRUE(claude.value(QStringLiteral("working")).toBool());
    ::close(silent);
    ::close(flooding);

    const CommandOutcome text = runCommand(installed.program(), home, {"status"});
    EXPECT_EQ(text.exitStatus, 0);
    EXPECT_EQ(text.output.rfind("Keeping Awake — ", 0), 0u) << text.output;
    EXPECT_NE(text.output.find("\n  Claude Code: working — "), std::string::npos) << text.output;

    // The picker's path: stored, and in force by the next tick.
    mark = run.output().size();
    const CommandOutcome off = runCommand(installed.program(), home, {"mode", "off"});
    EXPECT_EQ(off.exitStatus, 0) << off.errors;
    EXPECT_EQ(off.output.rfind("Off — Stayloom is off · ", 0), 0u) << off.output;
    EXPECT_TRUE(run.waitForOutput("Off — Stayloom is off", 3.5, mark)) << run.output();
    EXPECT_NE(readFile(installed.machine.settingsFile()).find("Nodwarden.mode=off"),
              std::string::npos);

    // Quit ends the keep-awake child that manual mode started, and the command returns only
    // once the program has ended.
    ASSERT_EQ(runCommand(installed.program(), home, {"mode", "manual"}).exitStatus, 0);
    ASSERT_TRUE(run.waitForOutput("Keeping Awake — ", 10, mark)) << run.output();
    for (int wait = 0; wait < 100 && installed.machine.keepAwakeStarts().empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(installed.machine.keepAwakeStarts().empty());
    const pid_t hold = installed.machine.keepAwakeStarts().back();
    agent.stop();
    const CommandOutcome quit = runCommand(installed.program(), home, {"quit"});
    EXPECT_EQ(quit.exitStatus, 0) << quit.errors;
    EXPECT_EQ(quit.output, "Stayloom has quit.\n");
    const auto status = run.waitForExit(1);
    ASSERT_TRUE(status.has_value()) << "the command returned before the program ended";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << run.errors();
    EXPECT_EQ(installed.machine.countRecorded("stayloom-inhibit", "stop " + std::to_string(hold)),
              1);
    EXPECT_EQ(childrenOfThisProcess(), std::vector<pid_t>()) << "a child outlived the program";

    const CommandOutcome after = runCommand(installed.program(), home, {"status"});
    EXPECT_EQ(after.exitStatus, 3) << after.output;
    EXPECT_NE(after.errors.find("Stayloom is not running for this user."), std::string::npos);
}

TEST_F(Program, ScriptsReadTheModeAndTimesAndRunCommandsHeldAwakeWithOrWithoutACopy) {
    InstalledProgram installed;
    const auto& home = installed.machine.home();
    installed.machine.storeSettings(AppMode::manualKeepAwake, GuardSettings::defaults());

    // No copy: scripts still get one JSON object, and a command still runs held awake.
    const CommandOutcome none = runCommand(installed.program(), home, {"status", "--json"});
    EXPECT_EQ(none.exitStatus, 3);
    const CommandOutcome quietNone = runCommand(installed.program(), home, {"status", "--quiet"});
    EXPECT_EQ(quietNone.exitStatus, 3);
    EXPECT_EQ(quietNone.output + quietNone.errors, "");
    EXPECT_EQ(statusReport(none), (QJsonObject{{QStringLiteral("running"), false}})) << none.output;
    const CommandOutcome failing = runCommand(installed.program(), home, {"run", "--", "false"});
    EXPECT_EQ(failing.exitStatus, 1) << failing.errors;
    EXPECT_EQ(failing.output + failing.errors, "") << "only what the command printed";
    EXPECT_NE(readFile(installed.machine.stateFolder() / "stayloom.log")
                  .find("] stayloom-inhibit: note: no session bus"),
              std::string::npos);
    ASSERT_EQ(installed.machine.keepAwakeStarts().size(), 1u);
    const pid_t hold = installed.machine.keepAwakeStarts().front();
    EXPECT_EQ(installed.machine.countRecorded("stayloom-inhibit", "stop " + std::to_string(hold)),
              1);

    ProgramRun run(installed.program(), home, devNull());
    ASSERT_TRUE(run.waitForOutput("Keeping Awake — ")) << run.output() << run.errors();
    const CommandOutcome mode = runCommand(installed.program(), home, {"mode"});
    EXPECT_EQ(mode.exitStatus, 0) << mode.errors;
    EXPECT_EQ(mode.output, "manual\n");
    // A script's question, answered by the exit status alone.
    const CommandOutcome quiet = runCommand(installed.program(), home, {"status", "--quiet"});
    EXPECT_EQ(quiet.exitStatus, 0) << quiet.errors;
    EXPECT_EQ(quiet.output + quiet.errors, "");
    EXPECT_EQ(runCommand(installed.program(), home, {"launch-at-login"}).output, "off\n");

    const CommandOutcome json = runCommand(installed.program(), home, {"status", "--json"});
    const QJsonObject report = statusReport(json);
    EXPECT_TRUE(report.value(QStringLiteral("running")).toBool()) << json.output;
    for (const char* key : {"statusSince", "keepingAwakeSince"}) {
        EXPECT_TRUE(QDateTime::fromString(report.value(QLatin1String(key)).toString(), Qt::ISODate)
                        .isValid())
            << key << ": " << json.output;
    }

    // Where a copy runs, the command shows there as a row, by its name alone.
    const CommandOutcome wrapped =
        runCommand(installed.program(), home,
                   {"run", "--", "/bin/sh", "-c", installed.program().string() + " status --json"});
    EXPECT_EQ(wrapped.exitStatus, 0) << wrapped.errors;
    EXPECT_EQ(agentRow(statusReport(wrapped), QStringLiteral("sh")).value(QStringLiteral("state")),
              QStringLiteral("working"))
        << wrapped.output;
    EXPECT_EQ(wrapped.output.find("-c"), std::string::npos) << wrapped.output;
    // A command whose name sets the terminal's title and forges a line: `status` shows it
    // escaped, the JSON exact.
    const std::string forged = "sh\x1b]0;owned\x07\nKeeping Awake \xe2\x80\xae";
    const auto link = home / forged;
    std::filesystem::create_symlink("/bin/sh", link);
    const std::string program = installed.program().string();
    const CommandOutcome shown = runCommand(
        installed.program(), home,
        {"run", "--", link.string(), "-c", program + " status; " + program + " status --json"});
    EXPECT_EQ(shown.exitStatus, 0) << shown.errors;
    const auto textEnd = shown.output.find("\n{");
    ASSERT_NE(textEnd, std::string::npos) << shown.output;
    const std::string text = shown.output.substr(0, textEnd + 1);
    EXPECT_NE(text.find("  sh\\x1b]0;owned\\x07\\x0aKeeping Awake \\u{202e}: working"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find_first_of("\x1b\x07"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nKeeping Awake \xe2"), std::string::npos) << text;
    const CommandOutcome reportOnly{shown.exitStatus, shown.output.substr(textEnd + 1), {}};
    EXPECT_FALSE(agentRow(statusReport(reportOnly), QString::fromStdString(forged)).isEmpty())
        << shown.output;
    const CommandOutcome after = runCommand(installed.program(), home, {"status", "--json"});
    EXPECT_TRUE(agentRow(statusReport(after), QStringLiteral("sh")).isEmpty()) << after.output;

    // A timed keep-awake reaches the running copy (what it does there: InstanceControlRequests);
    // words that are not understood exit 2.
    ASSERT_EQ(runCommand(installed.program(), home, {"mode", "off"}).exitStatus, 0);
    // The keep-awake child lets go a moment after the mode.
    int quietOff = 0;
    for (int attempt = 0; attempt < 50 && quietOff != 1; ++attempt) {
        quietOff = runCommand(installed.program(), home, {"status", "--quiet"}).exitStatus;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(quietOff, 1);
    const CommandOutcome awake = runCommand(installed.program(), home, {"awake", "--for", "1h30m"});
    EXPECT_EQ(awake.exitStatus, 0) << awake.errors;
    EXPECT_EQ(runCommand(installed.program(), home, {"mode"}).output, "manual\n");
    EXPECT_EQ(runCommand(installed.program(), home, {"awake", "--for", "soon"}).exitStatus, 2);

    const auto status = run.stop(SIGTERM, 5);
    ASSERT_TRUE(status.has_value());
}

namespace {

/// The JSON lines of `output` that hold every one of `pieces`.
std::vector<QJsonObject> jsonLinesWith(const std::string& output,
                                       const std::vector<std::string>& pieces) {
    std::vector<QJsonObject> found;
    for (const std::string& line : linesOf(output)) {
        const bool all = std::all_of(pieces.begin(), pieces.end(), [&](const std::string& piece) {
            return line.find(piece) != std::string::npos;
        });
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (all && document.isObject()) {
            found.push_back(document.object());
        }
    }
    return found;
}

/// A folder's executable script.
std::filesystem::path script(const std::filesystem::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

} // namespace

/// The copy runs in a process namespace of its own, so it sees only what the test starts there:
/// agents running elsewhere on this machine cannot make a line.
TEST_F(Program, EventsPrintALineForAModeChangeAndForABusyAgent) {
    if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/unshare") ||
        !std::filesystem::exists("/usr/bin/nsenter")) {
        GTEST_SKIP() << "NAMESPACE UNAVAILABLE: needs root, unshare and nsenter";
    }
    InstalledProgram installed;
    const auto& home = installed.machine.home();
    installed.machine.storeSettings(AppMode::watchAgentUI, GuardSettings::defaults());
    const auto isolated =
        script(installed.machine.root() / "isolated",
               "exec /usr/bin/unshare --pid --fork --mount-proc --kill-child=TERM " +
                   installed.program().string());
    const auto follow = script(installed.machine.root() / "follow",
                               "exec " + installed.program().string() + " events --json");

    ProgramRun run(isolated, home, devNull());
    ASSERT_TRUE(run.waitForOutput("Watching — ")) << run.output() << run.errors();
    ProgramRun events(follow, home, devNull());
    // The first line is the status as it stands.
    ASSERT_TRUE(events.waitForOutput("\"status\":\"watching\"")) << events.errors();

    ASSERT_EQ(runCommand(installed.program(), home, {"mode", "manual"}).exitStatus, 0);
    ASSERT_TRUE(events.waitForOutput("\"mode\":\"manual\"", 10)) << events.output();
    const auto manual = jsonLinesWith(events.output(), {"\"mode\":\"manual\""});
    ASSERT_FALSE(manual.empty()) << events.output();
    EXPECT_EQ(manual[0].value(QStringLiteral("status")).toString(), QStringLiteral("keepingAwake"));
    EXPECT_TRUE(QDateTime::fromString(manual[0].value(QStringLiteral("at")).toString(), Qt::ISODate)
                    .isValid())
        << events.output();
    EXPECT_FALSE(manual[0].contains(QStringLiteral("version"))) << "only what changed";
    ASSERT_EQ(runCommand(installed.program(), home, {"mode", "watch"}).exitStatus, 0);
    ASSERT_TRUE(events.waitForOutput("\"mode\":\"watch\"", 10)) << events.output();

    // A busy process named like an agent, started by the test inside the copy's namespace.
    const std::size_t mark = events.output().size();
    const pid_t inside = ::fork();
    if (inside == 0) {
        execute("/usr/bin/nsenter",
                {"--target", std::to_string(childrenOf(run.pid()).at(0)), "--pid", "--mount", "--",
                 installed.machine.agentProgram().string(), "-c", "while :; do :; done"},
                bareEnvironment(home));
    }
    ASSERT_TRUE(events.waitForOutput("\"state\":\"working\"", 20, mark)) << events.output();
    const auto working = jsonLinesWith(events.output().substr(mark), {"Claude Code"});
    ASSERT_FALSE(working.empty()) << events.output();
    EXPECT_EQ(working[0].value(QStringLiteral("status")).toString(),
              QStringLiteral("keepingAwake"));

    // The copy's end ends its namespace, the agent with it, and the follower's stream.
    // Terminated as the session's end would (its pid in the report is the namespace's own).
    ::kill(childrenOf(run.pid()).at(0), SIGTERM);
    ASSERT_TRUE(run.waitForExit(10).has_value());
    int status = 0;
    ::waitpid(inside, &status, 0);
    const auto followed = events.waitForExit(5);
    ASSERT_TRUE(followed.has_value());
    EXPECT_TRUE(WIFEXITED(*followed) && WEXITSTATUS(*followed) == 0) << events.errors();
}

/// The lines of `systemd-inhibit --list` naming Stayloom, on the bus this process was given.
std::string stayloomInhibitors() {
    std::string lines;
    if (std::FILE* list = ::popen("systemd-inhibit --list --no-pager --no-legend", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, list) != nullptr) {
            if (std::strstr(line, "Stayloom") != nullptr) {
                lines += line;
            }
        }
        ::pclose(list);
    }
    return lines;
}

/// The program's build-tree copy with its real keep-awake helper, on the real logind that
/// with-real-logind starts (registered as its own test); skipped elsewhere.
TEST_F(Program, ARunHoldsALogindLockForAsLongAsItsCommandAndNoLonger) {
    const char* bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (std::getenv("STAYLOOM_REAL_LOGIND") == nullptr || bus == nullptr) {
        GTEST_SKIP() << "needs the real logind on a private bus (with-real-logind)";
    }
    ASSERT_EQ(stayloomInhibitors(), "");
    TemporaryDirectory home;
    const auto environment =
        bareEnvironment(home.path(), {std::string("DBUS_SYSTEM_BUS_ADDRESS=") + bus});
    const auto caught = home.path() / "caught";
    // The command notes the signal it got, takes a second over ending, and exits 7; at SIGKILL
    // of the run alone it must end too, as the hold has gone.
    const std::string command =
        "trap 'echo $$ > " + caught.string() +
        "; kill $! 2>/dev/null; sleep 1; exit 7' TERM HUP INT; sleep 3 & wait; exit 0";
    const struct Case {
        int signal;
        int status;
    } cases[] = {{0, 0}, {SIGTERM, 7}, {SIGHUP, 7}, {SIGINT, 7}, {SIGKILL, 128 + SIGKILL}};
    for (const Case& each : cases) {
        SCOPED_TRACE(each.signal);
        std::filesystem::remove(caught);
        const pid_t pid = ::fork();
        if (pid == 0) {
            execute(STAYLOOM_PROGRAM_PATH, {"run", "--", "/bin/sh", "-c", command}, environment);
        }
        std::string held;
        int status = 0;
        while (held.empty() && ::waitpid(pid, &status, WNOHANG) == 0) {
            held = stayloomInhibitors();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_NE(held.find("sh is running"), std::string::npos)
            << "no lock naming the command while it ran: " << held;
        if (held.empty()) {
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "the run ended without a lock being listed";
            continue;
        }
        if (each.signal != 0) {
            ::kill(pid, each.signal);
        }
        if (each.signal != 0 && each.signal != SIGKILL) {
            // The command got it, and while it takes its time the lock is still listed.
            for (int wait = 0; wait < 50 && !std::filesystem::exists(caught); ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            EXPECT_TRUE(std::filesystem::exists(caught)) << "the command never got the signal";
            EXPECT_NE(stayloomInhibitors(), "") << "the lock went before the command ended";
        }
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        const int ended = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        EXPECT_EQ(ended, each.status);
        if (each.signal == SIGKILL) {
            // The command heard of it and ended rather than run on unprotected.
            for (int wait = 0; wait < 150 && !std::filesystem::exists(caught); ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            EXPECT_TRUE(std::filesystem::exists(caught)) << "the command outlived the run";
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        }
        EXPECT_EQ(stayloomInhibitors(), "") << "the lock outlived the command";
    }
}

#if defined(STAYLOOM_INHIBIT_PATH)
TEST_F(Program, ARunHoldsALogindLockThatARunningCopyHeadlinesAsKeepingAwake) {
    const char* bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (std::getenv("STAYLOOM_REAL_LOGIND") == nullptr || bus == nullptr) {
        GTEST_SKIP() << "needs the real logind on a private bus (with-real-logind)";
    }
    InstalledProgram installed;
    std::filesystem::copy_file(STAYLOOM_INHIBIT_PATH,
                               installed.machine.helpers() / "stayloom-inhibit",
                               std::filesystem::copy_options::overwrite_existing);
    const auto& home = installed.machine.home();
    // Off: nothing but the run holds the machine.
    installed.machine.storeSettings(AppMode::off, GuardSettings::defaults());
    const auto runtime = home / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::vector<std::string> extra{std::string("DBUS_SYSTEM_BUS_ADDRESS=") + bus,
                                         "XDG_RUNTIME_DIR=" + runtime.string()};
    ProgramRun copy(installed.program(), home, devNull(), extra);
    ASSERT_TRUE(copy.waitForOutput("Off — ")) << copy.errors();

    const pid_t run = ::fork();
    if (run == 0) {
        execute(installed.program(), {"run", "--", "sleep", "5"}, bareEnvironment(home, extra));
    }
    QJsonObject report;
    for (int attempt = 0; attempt < 40 && !report.value(QStringLiteral("locks")).toArray().size();
         ++attempt) {
        report =
            statusReport(runCommand(installed.program(), home, {"status", "--json"}, 10, extra));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(report.value(QStringLiteral("status")).toString(), QStringLiteral("keepingAwake"));
    EXPECT_TRUE(report.value(QStringLiteral("keepingAwake")).toBool());
    EXPECT_EQ(report.value(QStringLiteral("reason")).toString(),
              QStringLiteral("Kept awake for `sleep` (stayloom run)"));
    // The run lets the display sleep: logind's sleep lock alone, held; no desktop here.
    EXPECT_EQ(report.value(QStringLiteral("locks")).toArray(),
              (QJsonArray{
                  QJsonObject{{QStringLiteral("service"), QStringLiteral("org.freedesktop.login1")},
                              {QStringLiteral("kind"), QStringLiteral("sleep")},
                              {QStringLiteral("held"), true},
                              {QStringLiteral("honoured"), true}}}))
        << QJsonDocument(report).toJson().toStdString();
    const CommandOutcome text = runCommand(installed.program(), home, {"status"}, 10, extra);
    EXPECT_EQ(text.output.rfind("Keeping Awake — Kept awake for `sleep` (stayloom run)", 0), 0u)
        << text.output;

    int status = 0;
    ASSERT_EQ(::waitpid(run, &status, 0), run);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int attempt = 0; attempt < 40 && report.value(QStringLiteral("keepingAwake")).toBool();
         ++attempt) {
        report =
            statusReport(runCommand(installed.program(), home, {"status", "--json"}, 10, extra));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(report.value(QStringLiteral("status")).toString(), QStringLiteral("off"));
    EXPECT_EQ(report.value(QStringLiteral("locks")).toArray(), QJsonArray());
    EXPECT_TRUE(copy.stop(SIGTERM, 5).has_value());
}
#endif

TEST_F(Program, IdleConnectionsOfOnePeerLeaveCommandsWorkingAndTheSurplusHearsBusy) {
    InstalledProgram installed;
    const auto& home = installed.machine.home();
    installed.machine.storeSettings(AppMode::off, GuardSettings::defaults());
    ProgramRun run(installed.program(), home, devNull());
    ASSERT_TRUE(run.waitForOutput("Off — ")) << run.errors();

    std::vector<int> idle;
    for (int index = 0; index < 9; ++index) {
        idle.push_back(connectSocketPeer(installed.machine.stateFolder() / "Stayloom.socket"));
    }
    const CommandOutcome status = runCommand(installed.program(), home, {"status"}, 10);
    EXPECT_EQ(status.exitStatus, 0) << status.errors;
    EXPECT_EQ(status.output.rfind("Off — ", 0), 0u) << status.output;

    // The last idle peer was over its process's share and was told so at once.
    pollfd ready{idle.back(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 5000), 1);
    char answer[128] = {};
    ASSERT_GT(::recv(idle.back(), answer, sizeof answer - 1, 0), 0);
    EXPECT_STREQ(answer, "{\"error\":\"busy\",\"ok\":false}\n");
    for (const int fd : idle) {
        ::close(fd);
    }
    EXPECT_TRUE(run.stop(SIGTERM, 5).has_value());
}

TEST_F(Program, StartedWithHangUpIgnoredItOutlivesTheHangUp) {
    InstalledProgram installed;
    const auto& home = installed.machine.home();
    installed.machine.storeSettings(AppMode::off, GuardSettings::defaults());
    // As nohup starts it: the hang-up ignored from the start.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction saved = {};
    ::sigaction(SIGHUP, &ignore, &saved);
    ProgramRun run(installed.program(), home, devNull());
    ::sigaction(SIGHUP, &saved, nullptr);
    ASSERT_TRUE(run.waitForOutput("Off — ")) << run.errors();

    ::kill(run.pid(), SIGHUP);
    // Taken as a quit, it would end within moments, as it does at SIGTERM below.
    EXPECT_FALSE(run.waitForExit(3).has_value()) << "ended by the hang-up";
    EXPECT_EQ(runCommand(installed.program(), home, {"status"}).exitStatus, 0);
    const auto status = run.stop(SIGTERM, 5);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST_F(Program, AnAccountTooLongToBeOursIsMovedOutAndTheProgramStartsFresh) {
    InstalledProgram installed;
    installed.machine.storeSettings(AppMode::off, GuardSettings::defaults());
    const std::string oversized = crowdedAccountJSON(std::size_t(app::StoredDocument::maxBytes));
    {
        QSettings defaults(QString::fromStdString(installed.machine.settingsFile().string()),
                           QSettings::IniFormat);
        defaults.setValue(QStringLiteral("Nodwarden.metrics"),
                          QByteArray::fromStdString(oversized));
    }
    ProgramRun run(installed.program(), installed.machine.home(), devNull());
    ASSERT_TRUE(run.waitForOutput("Off — ")) << run.errors();
    EXPECT_EQ(
        readFile(installed.machine.settingsFile().parent_path() / "Nodwarden.metrics.unreadable"),
        oversized);
    EXPECT_LT(std::filesystem::file_size(installed.machine.settingsFile()), 64u * 1024);
    EXPECT_TRUE(run.stop(SIGTERM, 5).has_value());
}

TEST_F(Program, BackgroundJobSaysWhyItCannotAskAndCommandsFinishTheSetUp) {
    InstalledProgram installed;
    const auto& home = installed.machine.home();
    PseudoTerminal terminal;
    ProgramRun run(installed.program(), home, terminal, ProgramRun::Seat::backgroundJob);

    ASSERT_TRUE(run.waitForErrors("  stayloom mode watch\n")) << run.errors() << run.output();
    EXPECT_NE(run.errors().find("cannot ask for them here: it runs as a background job of the "
                                "terminal. "),
              std::string::npos)
        << run.errors();
    EXPECT_EQ(run.output().find(std::string(app::TerminalTermsPrompt::question())),
              std::string::npos);

    const CommandOutcome accepted = runCommand(installed.program(), home, {"accept-terms"});
    EXPECT_EQ(accepted.exitStatus, 0) << accepted.errors;
    ASSERT_TRUE(run.waitForErrors("cannot ask for one here: it runs as a background job"))
        << run.errors();
    EXPECT_EQ(runCommand(installed.program(), home, {"mode", "watch"}).exitStatus, 0);
    EXPECT_TRUE(run.waitForOutput("Watching — ")) << run.output();
    EXPECT_NE(
        readFile(installed.machine.settingsFile()).find("Stayloom.hasCompletedOnboarding=true"),
        std::string::npos);

    EXPECT_EQ(runCommand(installed.program(), home, {"quit"}).exitStatus, 0);
    const auto status = run.waitForExit(5);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

/// An agent named `claude` that runs one hook as its hooks are run (the event's JSON on the
/// hook's input), keeps what the hook printed and its exit status in `folder`, and then waits
/// as itself, with no child and no CPU.
std::string agentRunningHook(const std::filesystem::path& program,
                             const std::filesystem::path& home, const std::string& event,
                             const std::filesystem::path& folder) {
    std::string environment;
    for (const std::string& entry : bareEnvironment(home)) {
        environment += "'" + entry + "' ";
    }
    return "echo '{\"session_id\":\"s1\",\"hook_event_name\":\"" + event +
           "\",\"prompt\":\"secret\"}' | env -i " + environment + "'" + program.string() +
           "' hook claude " + event + " > '" + (folder / "out").string() + "' 2> '" +
           (folder / "err").string() + "'; echo $? > '" + (folder / "status").string() +
           "'; mkfifo '" + (folder / "wait").string() + "'; exec 3<> '" +
           (folder / "wait").string() + "'; read line <&3";
}

/// Waits until the hook run by `agentRunningHook` has ended.
bool hookEnded(const std::filesystem::path& folder) {
    for (int wait = 0; wait < 200; ++wait) {
        if (readFile(folder / "status").find('\n') != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

TEST_F(Program, AnAgentsHookIsSilentAloneAndMakesItsAgentWorkingForTheRunningCopy) {
    InstalledProgram installed;
    const auto& home = installed.machine.home();
    TemporaryDirectory hookOutput;

    // No copy runs: the hook says nothing and succeeds.
    {
        BusyAgent agent(
            installed.machine.agentProgram(),
            agentRunningHook(installed.program(), home, "UserPromptSubmit", hookOutput.path()));
        ASSERT_TRUE(hookEnded(hookOutput.path()));
        EXPECT_EQ(readFile(hookOutput.path() / "status"), "0\n");
        EXPECT_EQ(readFile(hookOutput.path() / "out"), "");
        EXPECT_EQ(readFile(hookOutput.path() / "err"), "");
    }

    installed.machine.storeSettings(AppMode::watchAgentUI, GuardSettings::defaults());
    // Only the hook speaks for this agent: no tmux server of this machine's is read.
    ProgramRun run(installed.program(), home, devNull(),
                   {"TMUX_TMPDIR=" + (home / "no-tmux").string()});
    // Agents running elsewhere on this machine may keep it awake; only Claude Code's row counts.
    ASSERT_TRUE(run.waitForOutput(" · ")) << run.output() << run.errors();
    const auto claudeRow = [&] {
        const CommandOutcome json = runCommand(installed.program(), home, {"status", "--json"});
        return agentRow(statusReport(json), QStringLiteral("Claude Code"));
    };

    // An idle agent, then the same agent after its hook announced a turn.
    std::filesystem::remove(hookOutput.path() / "status");
    std::filesystem::remove(hookOutput.path() / "wait");
    BusyAgent agent(
        installed.machine.agentProgram(),
        agentRunningHook(installed.program(), home, "UserPromptSubmit", hookOutput.path()));
    ASSERT_TRUE(hookEnded(hookOutput.path()));
    EXPECT_EQ(readFile(hookOutput.path() / "status"), "0\n");
    EXPECT_EQ(readFile(hookOutput.path() / "out") + readFile(hookOutput.path() / "err"), "");
    QJsonObject row;
    for (int tick = 0; tick < 40; ++tick) {
        row = claudeRow();
        if (row.value(QStringLiteral("working")).toBool()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(row.value(QStringLiteral("working")).toBool()) << run.output();
    // The reason names the hook (rows leave out the word "is").
    EXPECT_TRUE(row.value(QStringLiteral("reason")).toString().startsWith(u"Claude Code says it"))
        << row.value(QStringLiteral("reason")).toString().toStdString();
    EXPECT_EQ(run.output().find("secret"), std::string::npos);

    EXPECT_EQ(runCommand(installed.program(), home, {"quit"}).exitStatus, 0);
    EXPECT_TRUE(run.waitForExit(5).has_value());
}

TEST_F(Program, DisplayThatCannotBeOpenedMeansHeadlessStatusLines) {
    for (const std::string display : {":987", "localhost:87.0"}) {
        SCOPED_TRACE(display);
        InstalledProgram installed;
        installed.machine.storeSettings(AppMode::off, GuardSettings::defaults());
        ProgramRun run(installed.program(), installed.machine.home(), devNull(),
                       {"DISPLAY=" + display});
        EXPECT_TRUE(run.waitForOutput("Off — Stayloom is off · ")) << run.errors();
        EXPECT_EQ(run.errors(), "Cannot open the display “" + display +
                                    "” (no X server lets us in); running without a desktop.\n");
        const auto status = run.stop(SIGTERM, 5);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << (WIFSIGNALED(*status) ? WTERMSIG(*status) : WEXITSTATUS(*status));
    }
}

namespace {

/// The processes at or below `top`, read from /proc: only the test's own, whatever else runs.
class OwnProcessTree final : public ProcessTableReading {
public:
    explicit OwnProcessTree(pid_t top) : top_(top) {}
    std::vector<ProcessSnapshot> readProcessTable() override {
        std::map<std::int32_t, ProcessSnapshot> rows;
        forEachProcessStat([&](pid_t pid, const std::vector<std::string>& values) {
            if (values.size() < 20) {
                return;
            }
            std::string arguments = readFile("/proc/" + std::to_string(pid) + "/cmdline");
            std::replace(arguments.begin(), arguments.end(), '\0', ' ');
            const std::string command = arguments.substr(0, arguments.find(' '));
            ProcessSnapshot row(pid, std::stoi(values[1]), 0, command, arguments,
                                std::stoull(values[19]));
            row.startedAt = 0;
            rows.emplace(row.pid, row);
        });
        std::vector<ProcessSnapshot> tree;
        for (const auto& [pid, row] : rows) {
            for (std::int32_t at = pid; at > 1 && rows.contains(at); at = rows.at(at).parentPID) {
                if (at == top_) {
                    tree.push_back(row);
                    break;
                }
            }
        }
        return tree;
    }

private:
    pid_t top_;
};

} // namespace

// An agent named `claude` that runs the real `stayloom hook` as its hooks do and its commands as
// its shell tool does; a copy's control socket, in this test, hands the events to the witness.
TEST(HookSequence, PromptToolUsePermissionWaitAnswerAndStopEachGiveTheirState) {
    TemporaryDirectory root;
    const auto home = root.path() / "home";
    std::filesystem::create_directories(home);
    app::LinuxPlatformOptions options;
    options.paths = PlatformPaths::Environment{home, std::nullopt};
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    auto model = harness.makeModel();
    const auto hooks = std::make_shared<HookWitness>();
    app::InstanceControl control(
        *model, [](AppMode) {}, hooks);
    app::SingleInstance instance(app::instanceLockFolder(options));
    ASSERT_TRUE(instance.acquire());
    instance.setRequestHandler([&](const QJsonObject& request) { return control.handle(request); });

    std::filesystem::create_symlink("/bin/sh", root.path() / "claude");
    const auto steps = root.path() / "steps";
    const auto done = root.path() / "done";
    ASSERT_EQ(::mkfifo(steps.c_str(), 0600), 0);
    std::string environment;
    for (const std::string& entry : bareEnvironment(home)) {
        environment += "'" + entry + "' ";
    }
    const std::string script =
        "exec 3<> '" + steps.string() +
        "'; while read -r verb event kind <&3; do case $verb in "
        "hook) printf '{\"session_id\":\"s1\",\"notification_type\":\"%s\"}' \"$kind\" | env -i " +
        environment + "'" + STAYLOOM_PROGRAM_PATH +
        "' hook claude \"$event\";; run) sleep 300 & command=$!;; end) kill $command; wait;; "
        "esac; echo x >> '" +
        done.string() + "'; done";
    ChildProcess agent({(root.path() / "claude").string(), "-c", script});
    int stepsTaken = 0;
    const auto step = [&](const std::string& line) {
        std::ofstream(steps) << line << std::endl;
        ++stepsTaken;
        return AppModelHarness::processEventsUntil(
            [&] { return int(linesOf(readFile(done)).size()) == stepsTaken; });
    };

    auto table = std::make_shared<OwnProcessTree>(agent.pid());
    ProcessDetector processes(table);
    FakeAccessibilityPlatform noApplications;
    AccessibilityDetector screenText(noApplications);
    SessionActivityDetector sessions(std::make_shared<FileActivityProbe>(home, 8),
                                     HostSystem::linux);
    ActivityDetector detector(processes, screenText, sessions, {hooks.get()});
    Date now = 1000;
    const auto claude = [&] {
        now += 1;
        for (const ActivitySignal& signal :
             detector.detectPerApp(GuardSettings::defaults(), {true, 100, "AC"}, now)) {
            if (signal.appName == "Claude Code") {
                return signal;
            }
        }
        return ActivitySignal::none();
    };
    struct Expected {
        SignalStrength strength;
        bool waiting;
        std::optional<DecidingWitness> decidedBy;
    };
    const auto is = [&](const Expected& expected, const char* what) {
        // The hook's event reaches the copy a moment after the hook ended, and a hook's own
        // process, while it lasts, is one the agent started in its turn.
        ActivitySignal signal;
        AppModelHarness::processEventsUntil(
            [&] {
                signal = claude();
                return signal.strength == expected.strength &&
                       signal.waitingForUser == expected.waiting &&
                       signal.decidedBy == expected.decidedBy;
            },
            5000);
        EXPECT_EQ(signal.strength, expected.strength) << what << ": " << signal.reason;
        EXPECT_EQ(signal.waitingForUser, expected.waiting) << what << ": " << signal.reason;
        EXPECT_EQ(signal.decidedBy, expected.decidedBy) << what << ": " << signal.reason;
    };
    const auto strong = SignalStrength::strong, presence = SignalStrength::presence;

    ASSERT_TRUE(step("hook UserPromptSubmit"));
    is({strong, false, DecidingWitness::hook}, "the prompt");
    ASSERT_TRUE(step("hook PreToolUse"));
    ASSERT_TRUE(step("run"));
    is({strong, false, DecidingWitness::run}, "its tool runs a quiet command");
    ASSERT_TRUE(step("end"));
    ASSERT_TRUE(step("hook PostToolUse"));
    ASSERT_TRUE(step("hook Notification permission_prompt"));
    is({presence, true, DecidingWitness::hook}, "it asks for a permission");
    ASSERT_TRUE(step("run"));
    is({strong, false, DecidingWitness::run}, "the answer: the command it asked about runs");
    ASSERT_TRUE(step("end"));
    ASSERT_TRUE(step("hook PostToolUse"));
    ASSERT_TRUE(step("hook Stop"));
    is({presence, false, DecidingWitness::cpu}, "its turn ended");
}
