#include <NodwardenApp/platform/SingleInstance.hpp>

#include <NodwardenApp/platform/ControlConnection.hpp>

#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace nodwarden::app {

namespace {

/// What a second start writes to the running instance.
constexpr char activateMessage[] = "activate\n";
/// How long a second start waits for the running instance to take the message.
constexpr int notifyTimeoutMilliseconds = 500;

std::optional<pid_t> readPid(int fd) {
    char buffer[32] = {};
    const ssize_t count = ::pread(fd, buffer, sizeof buffer - 1, 0);
    if (count <= 0) {
        return std::nullopt;
    }
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(buffer, buffer + count, pid);
    if (error != std::errc() || end == buffer || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

} // namespace

SingleInstance::SingleInstance(std::filesystem::path folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
    if (server_ != nullptr) {
        server_->close();
    }
    if (lockFd_ >= 0) {
        // The socket is removed while the lock is still held, so a new instance that already
        // took over the lock never loses its own socket to this clean-up.
        ::close(lockFd_);
    }
}

bool SingleInstance::acquire() {
    if (lockFd_ >= 0) {
        return true;
    }
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    // O_CLOEXEC: a child that inherited the descriptor would keep the lock after this program
    // ends and lock out every later start.
    const int fd = ::open(lockFilePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // Without a lock file nothing can be enforced; refusing to run would be worse.
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool heldElsewhere = errno == EWOULDBLOCK;
        if (heldElsewhere) {
            holderPid_ = readPid(fd);
            ::close(fd);
            notifyRunningInstance();
            return false;
        }
        ::close(fd);
        return true;
    }
    lockFd_ = fd;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    listen();
    return true;
}

void SingleInstance::listen() {
    const QString name = QString::fromStdString(socketPath().string());
    // A socket file left by an instance that crashed would make listen fail; the lock proves
    // nobody owns it now.
    QLocalServer::removeServer(name);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        delete server_;
        server_ = nullptr;
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            if (connections_ >= ControlProtocol::maxConnections) {
                client->abort();
                client->deleteLater();
                continue;
            }
            ++connections_;
            auto* connection = new ControlConnection(client, handler_, this);
            connect(connection, &ControlConnection::activationRequested, this,
                    &SingleInstance::activationRequested);
            connect(connection, &ControlConnection::finished, this, [this] { --connections_; });
        }
    });
}

void SingleInstance::notifyRunningInstance() const {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath().string()));
    if (!socket.waitForConnected(notifyTimeoutMilliseconds)) {
        return;
    }
    socket.write(activateMessage, sizeof activateMessage - 1);
    socket.waitForBytesWritten(notifyTimeoutMilliseconds);
    socket.disconnectFromServer();
}

} // namespace nodwarden::app
