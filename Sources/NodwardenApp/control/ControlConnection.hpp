#pragma once

#include <NodwardenApp/control/ControlProtocol.hpp>

#include <QByteArray>
#include <QObject>

#include <functional>

class QLocalSocket;
class QTimer;

namespace nodwarden::app {

/// One peer of the control socket, served without ever waiting on it: bytes are taken as they
/// arrive, up to one bounded line; a peer that is too slow, too long or silent is dropped.
class ControlConnection : public QObject {
    Q_OBJECT

public:
    /// Takes `socket` over (it becomes the connection's child). `handler` answers requests.
    ControlConnection(QLocalSocket* socket, const ControlRequestHandler& handler,
                      QObject* parent = nullptr);

    /// Tells a peer that no place is free (`ControlProtocol::busyError`) without reading its
    /// request, and closes `socket`, which deletes itself.
    static void refuseBusy(QLocalSocket* socket);

signals:
    /// The peer sent the bare activation line of a second start.
    void activationRequested();
    /// The connection is over; it deletes itself next.
    void finished();

private:
    void readRequest();
    void answer(const QByteArray& line);
    void reply(const QJsonObject& body);
    /// Answers with `body` and keeps the connection for the lines `stream` sends.
    void follow(const QJsonObject& body, const ControlReply& result);
    void sendLine(const QJsonObject& body);
    void drop();

    QLocalSocket* socket_;
    const ControlRequestHandler& handler_;
    QTimer* timeout_;
    QByteArray pending_;
    bool answered_ = false;
    bool finished_ = false;
    /// What ends a subscription once the peer has gone.
    std::function<void()> unsubscribe_;
};

} // namespace nodwarden::app
