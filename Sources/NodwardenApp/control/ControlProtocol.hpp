#pragma once

#include <QJsonObject>

#include <functional>

namespace nodwarden::app {

/// The per-user local socket between a command (`stayloom status`) and the running program: one
/// JSON object on one line each way, then the program closes the connection; a subscription
/// (`stayloom events`) is answered with a line at once and one more per change until the peer
/// goes. A bare "activate" line is a second start asking the running program to come forward.
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
/// What a following peer may leave unread before it is dropped: a reader that stopped reading
/// must not grow the program's buffers without end.
inline constexpr qsizetype maxUnreadStreamBytes = 256 * 1024;

} // namespace ControlProtocol

/// What the program answers to one request, and what it does once the answer has been handed
/// to the system (quitting must not cut its own answer off).
struct ControlReply {
    QJsonObject body{};
    std::function<void()> afterReply{};
    /// When set, `body` is unused: the answer is handed to the callback later, once, on the
    /// main thread, for a request whose truthful answer is not known yet.
    std::function<void(std::function<void(QJsonObject)>)> bodyLater{};
    /// When set, the connection stays open after `body`: the callback is handed a way to send
    /// one more line (a JSON object) at a time, for as long as the peer stays, and returns what
    /// to call once the peer has gone. Called on the main thread.
    std::function<std::function<void()>(std::function<void(const QJsonObject&)> send)> stream{};
};

using ControlRequestHandler = std::function<ControlReply(const QJsonObject& request)>;

} // namespace nodwarden::app
