#pragma once

#include <NodwardenApp/control/CommandLine.hpp>

#include <QByteArray>
#include <QDeadlineTimer>

#include <cstdio>
#include <filesystem>
#include <optional>

namespace nodwarden::app {

/// A command's side of the control socket: asks the running program once, prints the answer,
/// and gives the command's exit status. Waits are bounded; this process has nothing else to do.
namespace ControlClient {

/// Exit statuses besides 0.
inline constexpr int failedStatus = 1;
inline constexpr int usageStatus = 2;
inline constexpr int notRunningStatus = 3;

/// How long the running program has to answer.
inline constexpr int answerTimeoutMilliseconds = 5000;
/// How long `quit` waits for the program to end (restoring normal sleep may ask for an
/// administrator's password first).
inline constexpr int quitTimeoutMilliseconds = 130000;

/// How one request to the running program went.
struct Exchange {
    enum class Outcome { answered, notRunning, unreachable, closedEarly, timedOut };
    Outcome outcome;
    /// The answer line (`answered`) or why the socket could not be reached (`unreachable`).
    QByteArray text;
};

/// Sends `request` (one line) and reads one answer line, never waiting past `deadline`.
Exchange exchange(const std::filesystem::path& socketPath, const QByteArray& request,
                  const QDeadlineTimer& deadline);

/// Sends `request` (one of the commands) to the program listening on `socketPath`; none when
/// no socket path fits on this system.
int run(const CommandLineRequest& request, const std::optional<std::filesystem::path>& socketPath,
        std::FILE* output, std::FILE* errors);

} // namespace ControlClient

} // namespace nodwarden::app
