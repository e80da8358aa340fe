#pragma once

#include <NodwardenCore/Export.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// A system tool to run: an absolute program path and the arguments after the program name.
struct ShellCommand {
    std::string executable;
    std::vector<std::string> arguments;
    /// The variables of our environment the tool needs besides the search path and the locale
    /// (see `ChildEnvironment`); no other variable reaches it.
    std::vector<std::string> passedVariables = {};

    bool operator==(const ShellCommand&) const = default;
};

/// What a finished child left behind. Output streams hold valid UTF-8 (or are empty).
struct CommandResult {
    /// Exit status, or the number of the signal that ended the child.
    std::int32_t exitCode = 0;
    std::string standardOutput;
    std::string standardError;

    bool succeeded() const { return exitCode == 0; }

    bool operator==(const CommandResult&) const = default;
};

/// Textual form of a result as it appears in log lines, with both streams quoted and escaped.
std::string describe(const CommandResult& result);

/// The text of the failure being handled, inside a `catch (...)`: tool failures reach callers as
/// exceptions of several kinds, and the log shows each one's own text ("unknown error" otherwise).
std::string describeCurrentFailure();

/// A tool ran but did not succeed. what() reads "nonZeroExit(CommandResult(exitCode: …, …))".
class CommandRunnerError : public std::runtime_error {
public:
    enum class Kind { nonZeroExit };

    /// The tool exited with a non-zero status or was ended by a signal.
    static CommandRunnerError nonZeroExit(CommandResult result);

    Kind kind() const { return kind_; }
    const CommandResult& result() const { return result_; }

private:
    CommandRunnerError(Kind kind, CommandResult result);

    Kind kind_;
    CommandResult result_;
};

/// The tool could not be started at all (missing, not executable, out of resources).
/// what() reads "<executable>: <system error text>".
class CommandLaunchError : public std::runtime_error {
public:
    CommandLaunchError(std::string executable, int errorNumber);

    const std::string& executable() const { return executable_; }
    /// The errno value reported by the system.
    int errorNumber() const { return errorNumber_; }
    /// The system's own text for `errorNumber()`, e.g. "No such file or directory".
    const std::string& systemMessage() const { return systemMessage_; }

private:
    std::string executable_;
    int errorNumber_;
    std::string systemMessage_;
};

/// Runs a system tool to completion.
class CommandRunning {
public:
    virtual ~CommandRunning() = default;

    /// Returns the result of a successful run; throws `CommandRunnerError` for a non-zero exit
    /// and `CommandLaunchError` when the tool cannot be started.
    virtual CommandResult run(const ShellCommand& command) = 0;
};

/// Runs each command as a child process with bounded run time and the command's own minimal
/// environment. Stateless, so one instance may
/// serve concurrent callers; every child is reaped before `run` returns or throws.
class ProcessCommandRunner final : public CommandRunning {
public:
    explicit ProcessCommandRunner(double timeoutSeconds);

    double timeoutSeconds() const { return timeoutSeconds_; }

    /// After the time-out the child gets SIGTERM, 0.2 s later SIGINT, and after a further
    /// `forceKillDelaySeconds` SIGKILL, so the call always returns.
    CommandResult run(const ShellCommand& command) override;

    /// Seconds between SIGINT and SIGKILL for a child that ignores both polite signals.
    static constexpr double forceKillDelaySeconds = 2.0;

private:
    const double timeoutSeconds_;
};

} // namespace nodwarden
