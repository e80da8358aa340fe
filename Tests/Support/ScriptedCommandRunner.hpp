#pragma once

#include <NodwardenCore/system/ShellCommand.hpp>

#include <cstddef>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace stayloom::testing {

/// A `CommandRunning` that answers from a script instead of starting programs, and records every
/// command it was asked to run. Thread-safe.
///
/// Per command, queued outcomes are used once each, in order; when none is left the standing
/// outcome (if set) answers every further call; with neither, `run` throws `CommandLaunchError`
/// with ENOENT, as if the tool were missing. A scripted `CommandResult` with a non-zero exit code
/// is thrown as `CommandRunnerError::nonZeroExit`, as the real runner would.
class ScriptedCommandRunner : public nodwarden::CommandRunning {
public:
    /// Answers the next call of `command` with `result`.
    void enqueue(const nodwarden::ShellCommand& command, nodwarden::CommandResult result);
    /// Answers the next call of `command` by throwing `error`.
    void enqueueError(const nodwarden::ShellCommand& command, std::exception_ptr error);
    template <typename Error>
    void enqueueError(const nodwarden::ShellCommand& command, const Error& error) {
        enqueueError(command, std::make_exception_ptr(error));
    }

    /// Answers every call of `command` with `result` once its queue is empty.
    void setStanding(const nodwarden::ShellCommand& command, nodwarden::CommandResult result);
    /// Answers every call of `command` by throwing `error` once its queue is empty.
    void setStandingError(const nodwarden::ShellCommand& command, std::exception_ptr error);
    template <typename Error>
    void setStandingError(const nodwarden::ShellCommand& command, const Error& error) {
        setStandingError(command, std::make_exception_ptr(error));
    }

    nodwarden::CommandResult run(const nodwarden::ShellCommand& command) override;

    /// Every command run so far, in call order.
    std::vector<nodwarden::ShellCommand> commands() const;
    /// How often `command` was run.
    std::size_t count(const nodwarden::ShellCommand& command) const;
    /// Commands that found nothing scripted, in call order.
    std::vector<nodwarden::ShellCommand> unscriptedCommands() const;
    /// Queued outcomes not yet used, over all commands.
    std::size_t pendingCount() const;

private:
    using Outcome = std::variant<nodwarden::CommandResult, std::exception_ptr>;
    using Key = std::pair<std::string, std::vector<std::string>>;

    static Key keyOf(const nodwarden::ShellCommand& command);

    mutable std::mutex mutex_;
    std::map<Key, std::deque<Outcome>> queued_;
    std::map<Key, Outcome> standing_;
    std::vector<nodwarden::ShellCommand> commands_;
    std::vector<nodwarden::ShellCommand> unscripted_;
};

} // namespace stayloom::testing
