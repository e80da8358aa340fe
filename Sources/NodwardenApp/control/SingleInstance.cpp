#include <NodwardenApp/control/SingleInstance.hpp>

#include <NodwardenApp/control/ControlConnection.hpp>
#include <NodwardenApp/control/ControlSocketPath.hpp>

#include <NodwardenCore/system/FileLogger.hpp>

#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

/// The process at the other end of a local socket; 0 (one shared place) when the system cannot
/// say.
pid_t peerProcess(qintptr descriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (descriptor < 0 ||
        ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        return 0;
    }
    return credentials.pid;
}

} // namespace

SingleInstance::SingleInstance(std::filesystem::path folder,
                               const std::optional<std::filesystem::path>& runtimeFolder,
                               FileLogger* logger)
    : folder_(std::move(folder)),
      socketPath_(ControlSocketPath::forLockFolder(folder_, runtimeFolder)), logger_(logger) {}

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
    // ends and lock out every later start. O_NOFOLLOW and O_NONBLOCK: the pid is written into
    // whatever is opened, so a link must not lead it into another file, nor a FIFO stall it.
    const int fd = ::open(lockFilePath().c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat status {};
    const bool notAFile =
        fd < 0 ? errno == ELOOP : ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode);
    if (notAFile) {
        if (fd >= 0) {
            ::close(fd);
        }
        refusal_ = "Stayloom cannot use its lock file " + lockFilePath().string() +
                   ": it is a link or not a regular file. Remove it and start Stayloom again.";
        return false;
    }
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
    if (!socketPath_) {
        log("No control socket: the path beside " + folder_.string() +
            " is too long for a socket and no runtime folder takes it");
        return;
    }
    if (socketPath_->parent_path() != folder_) {
        log("The control socket path beside " + folder_.string() + " is too long; listening at " +
            socketPath_->string());
    }
    const QString name = QString::fromStdString(socketPath_->string());
    // A socket file left by an instance that crashed would make listen fail; the lock proves
    // nobody owns it now.
    QLocalServer::removeServer(name);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        log("No control socket: cannot listen at " + socketPath_->string() + ": " +
            server_->errorString().toStdString());
        delete server_;
        server_ = nullptr;
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            admit(client);
        }
    });
}

void SingleInstance::admit(QLocalSocket* client) {
    const pid_t peer = peerProcess(client->socketDescriptor());
    int& peerConnections = connectionsByPeer_[peer];
    if (connections_ >= ControlProtocol::maxConnections ||
        peerConnections >= ControlProtocol::maxConnectionsPerPeer) {
        if (peerConnections == 0) {
            connectionsByPeer_.erase(peer);
        }
        ControlConnection::refuseBusy(client);
        return;
    }
    ++connections_;
    ++peerConnections;
    auto* connection = new ControlConnection(client, handler_, this);
    connect(connection, &ControlConnection::activationRequested, this,
            &SingleInstance::activationRequested);
    connect(connection, &ControlConnection::finished, this, [this, peer] {
        --connections_;
        if (const auto place = connectionsByPeer_.find(peer);
            place != connectionsByPeer_.end() && --place->second <= 0) {
            connectionsByPeer_.erase(place);
        }
    });
}

void SingleInstance::log(const std::string& message) const {
    if (logger_ != nullptr) {
        logger_->log(message);
    }
}

void SingleInstance::notifyRunningInstance() const {
    if (!socketPath_) {
        return;
    }
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath_->string()));
    if (!socket.waitForConnected(notifyTimeoutMilliseconds)) {
        return;
    }
    socket.write(activateMessage, sizeof activateMessage - 1);
    socket.waitForBytesWritten(notifyTimeoutMilliseconds);
    socket.disconnectFromServer();
}

} // namespace nodwarden::app
