#pragma once

#include <NodwardenApp/platform/HookSetup.hpp>
#include <NodwardenCore/model/AppMode.hpp>

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace nodwarden::app {

/// What the words after the program's name ask for.
struct CommandLineRequest {
    enum class Action {
        run,
        help,
        version,
        invalid,
        status,
        mode,
        quit,
        acceptTerms,
        launchAtLogin,
        hooks,
        runCommand,
        awake,
        events
    };

    Action action = Action::run;
    /// `status --json`, `events --json`.
    bool json = false;
    /// `status --quiet`: only the exit status says whether the computer is kept awake.
    bool quiet = false;
    /// `mode <word>`; none for `mode` alone, which asks for the mode in force.
    std::optional<AppMode> mode;
    /// `launch-at-login on|off`; none for `launch-at-login` alone, which asks.
    std::optional<bool> enabled;
    /// `hooks install|remove|status [agent…]`.
    HookSetup::Verb hooksVerb = HookSetup::Verb::status;
    std::vector<std::string> agents;
    /// `awake --for DURATION`, in seconds.
    double seconds = 0;
    /// `run -- COMMAND…`: the program and its arguments.
    std::vector<std::string> command;
    /// Why the words were refused (`invalid`).
    QString error;
};

/// The program's command line: no command starts the program, a command asks the running one.
class CommandLine {
public:
    /// The name shown in usage lines and messages, whatever the program file is called.
    static constexpr const char* programName = "stayloom";

    CommandLine();

    /// `arguments` start with the program's name, as `argv` does.
    CommandLineRequest parse(const QStringList& arguments);
    /// Usage, options and commands.
    QString helpText() const;

    /// "90m", "2h", "1h30m", "45s": whole numbers each with its unit (s, m, h), in seconds; none
    /// for anything else, a zero length, or more than a week.
    static std::optional<double> parseDuration(const QString& text);

private:
    QCommandLineParser parser_;
    QCommandLineOption json_;
    QCommandLineOption quiet_;
    QCommandLineOption for_;
    QCommandLineOption help_;
    QCommandLineOption version_;
};

} // namespace nodwarden::app
