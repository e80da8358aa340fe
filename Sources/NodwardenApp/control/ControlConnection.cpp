#include <NodwardenApp/control/ControlConnection.hpp>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace nodwarden::app {

namespace {

QJsonObject failure(const QString& error) {
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

QByteArray line(const QJsonObject& body) {
    return QJsonDocument(body).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

ControlConnection::ControlConnection(QLocalSocket* socket, const ControlRequestHandler& handler,
                                     QObject* parent)
    : QObject(parent), socket_(socket), handler_(handler), timeout_(new QTimer(this)) {
    socket_->setParent(this);
    timeout_->setSingleShot(true);
    connect(timeout_, &QTimer::timeout, this, &ControlConnection::drop);
    timeout_->start(ControlProtocol::peerTimeoutMilliseconds);
    connect(socket_, &QLocalSocket::readyRead, this, &ControlConnection::readRequest);
    connect(socket_, &QLocalSocket::disconnected, this, &ControlConnection::drop);
    // Bytes may have arrived before the connection was taken.
    QTimer::singleShot(0, this, &ControlConnection::readRequest);
}

void ControlConnection::refuseBusy(QLocalSocket* socket) {
    // What has arrived is taken first: a socket closed with unread bytes resets the peer's end.
    socket->readAll();
    // A line this short goes straight into the empty socket buffer, so nothing is left to wait for
    // when the socket is closed.
    socket->write(line(failure(QString::fromLatin1(ControlProtocol::busyError))));
    socket->flush();
    socket->abort();
    socket->deleteLater();
}

void ControlConnection::readRequest() {
    if (answered_ || finished_) {
        // Nothing more is read; what a peer sends after its request is thrown away.
        socket_->readAll();
        return;
    }
    pending_ += socket_->read(ControlProtocol::maxRequestBytes + 1 - pending_.size());
    const qsizetype newline = pending_.indexOf('\n');
    if (newline >= 0) {
        answer(pending_.left(newline).trimmed());
        return;
    }
    if (pending_.size() > ControlProtocol::maxRequestBytes) {
        reply(failure(QStringLiteral("request too long")));
    }
}

void ControlConnection::answer(const QByteArray& line) {
    if (line == "activate") {
        answered_ = true;
        emit activationRequested();
        drop();
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        reply(failure(QStringLiteral("request is not one JSON object")));
        return;
    }
    ControlReply result = handler_ ? handler_(document.object())
                                   : ControlReply{.body = failure(QStringLiteral("not ready"))};
    if (result.stream) {
        follow(result.body, result);
        return;
    }
    if (result.bodyLater) {
        answered_ = true;
        result.bodyLater([connection = QPointer<ControlConnection>(this)](const QJsonObject& body) {
            if (connection && !connection->finished_) {
                connection->reply(body);
            }
        });
        return;
    }
    reply(result.body);
    if (result.afterReply) {
        // After this event, when the answer is in the system's buffer. Not tied to this
        // connection, which may be gone by then.
        QTimer::singleShot(0, QCoreApplication::instance(), std::move(result.afterReply));
    }
}

void ControlConnection::reply(const QJsonObject& body) {
    answered_ = true;
    socket_->write(line(body));
    socket_->flush();
    // A peer that never takes its answer is dropped at the time-out.
    timeout_->start(ControlProtocol::peerTimeoutMilliseconds);
    socket_->disconnectFromServer();
}

void ControlConnection::follow(const QJsonObject& body, const ControlReply& result) {
    answered_ = true;
    // A follower reads for as long as it likes; it is dropped when it goes or stops reading.
    timeout_->stop();
    sendLine(body);
    if (finished_) {
        return;
    }
    unsubscribe_ =
        result.stream([connection = QPointer<ControlConnection>(this)](const QJsonObject& line) {
            if (connection && !connection->finished_) {
                connection->sendLine(line);
            }
        });
}

void ControlConnection::sendLine(const QJsonObject& body) {
    if (socket_->bytesToWrite() > ControlProtocol::maxUnreadStreamBytes) {
        drop();
        return;
    }
    socket_->write(line(body));
    socket_->flush();
}

void ControlConnection::drop() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (const auto unsubscribe = std::exchange(unsubscribe_, nullptr)) {
        unsubscribe();
    }
    timeout_->stop();
    socket_->abort();
    emit finished();
    deleteLater();
}

} // namespace nodwarden::app
