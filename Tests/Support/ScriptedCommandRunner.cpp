#include "Support/ScriptedCommandRunner.hpp"

#include <algorithm>
#include <cerrno>

namespace stayloom::testing {

using nodwarden::CommandLaunchError;
using nodwarden::CommandResult;
using nodwarden::CommandRunnerError;
using nodwarden::ShellCommand;

ScriptedCommandRunner::Key ScriptedCommandRunner::keyOf(const ShellCommand& command) {
    return {command.executable, command.arguments};
}

void ScriptedCommandRunner::enqueue(const ShellCommand& command, CommandResult result) {
    std::lock_guard lock(mutex_);
    queued_[keyOf(command)].emplace_back(std::move(result));
}

void ScriptedCommandRunner::enqueueError(const ShellCommand& command, std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    queued_[keyOf(command)].emplace_back(std::move(error));
}

void ScriptedCommandRunner::setStanding(const ShellCommand& command, CommandResult result) {
    std::lock_guard lock(mutex_);
    standing_.insert_or_assign(keyOf(command), Outcome(std::move(result)));
}

void ScriptedCommandRunner::setStandingError(const ShellCommand& command,
                                             std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    standing_.insert_or_assign(keyOf(command), Outcome(std::move(error)));
}

CommandResult ScriptedCommandRunner::run(const ShellCommand& command) {
    std::optional<Outcome> outcome;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
        const auto key = keyOf(command);
        if (auto queue = queued_.find(key); queue != queued_.end() && !queue->second.empty()) {
            outcome = std::move(queue->second.front());
            queue->second.pop_front();
        } else if (auto standing = standing_.find(key); standing != standing_.end()) {
            outcome = standing->second;
        } else {
            unscripted_.push_back(command);
        }
    }
    if (!outcome) {
        throw CommandLaunchError(command.executable, ENOENT);
    }
    if (auto* error = std::get_if<std::exception_ptr>(&*outcome)) {
        std::rethrow_exception(*error);
    }
    auto result = std::get<CommandResult>(std::move(*outcome));
    if (!result.succeeded()) {
        throw CommandRunnerError::nonZeroExit(std::move(result));
    }
    return result;
}

std::vector<ShellCommand> ScriptedCommandRunner::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::size_t ScriptedCommandRunner::count(const ShellCommand& command) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(commands_.begin(), commands_.end(), command));
}

std::vector<ShellCommand> ScriptedCommandRunner::unscriptedCommands() const {
    std::lock_guard lock(mutex_);
    return unscripted_;
}

std::size_t ScriptedCommandRunner::pendingCount() const {
    std::lock_guard lock(mutex_);
    std::size_t total = 0;
    for (const auto& [key, queue] : queued_) {
        total += queue.size();
    }
    return total;
}

} // namespace stayloom::testing
