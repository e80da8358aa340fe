#pragma once

#include <QJsonObject>

#include <functional>

namespace nodwarden::app {

/// The per-user local socket between a command (`stayloom status`) and the running program: one
/// JSON object on one line each way, then the program closes the connection. A bare
/// "activate" line is a second start asking the running program to come forward.
namespace ControlProtocol {

/// The longest request line the program reads; a peer that sends more is cut off.
inline constexpr qsizetype maxRequestBytes = 4096;
/// How long a peer may take to send its request, and then to take the reply.
inline constexpr int peerTimeoutMilliseconds = 2000;
/// Connections served at once; more are told `busyError` and closed at once, so no peer can
/// pile up timers.
inline constexpr int maxConnections = 32;
/// Connections of one peer process served at once, so a process holding idle connections
/// leaves places for everyone else's commands.
inline constexpr int maxConnectionsPerPeer = 4;
/// The error of the reply to a connection over either limit.
inline constexpr char busyError[] = "busy";

} // namespace ControlProtocol

/// What the program answers to one request, and what it does once the answer has been handed
/// to the system (quitting must not cut its own answer off).
struct ControlReply {
    QJsonObject body{};
    std::function<void()> afterReply{};
    /// When set, `body` is unused: the answer is handed to the callback later, once, on the
    /// main thread, for a request whose truthful answer is not known yet.
    std::function<void(std::function<void(QJsonObject)>)> bodyLater{};
};

using ControlRequestHandler = std::function<ControlReply(const QJsonObject& request)>;

} // namespace nodwarden::app
