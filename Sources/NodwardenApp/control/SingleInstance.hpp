#pragma once

#include <NodwardenApp/control/ControlProtocol.hpp>

#include <QObject>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <sys/types.h>

class QLocalServer;
class QLocalSocket;

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

/// One running program per user: an exclusive lock on a file in the folder that also holds the
/// keep-awake pid file and the lid-closed marker, since two instances would fight over both.
/// A local socket next to it lets a second start ask the running one to come forward, and
/// commands ask it questions (`ControlProtocol`). Where that socket's path would be too long for
/// a socket address it lives in the runtime folder instead (`ControlSocketPath`).
class SingleInstance : public QObject {
    Q_OBJECT

public:
    /// `folder` is created when missing; nothing is locked before `acquire`. `runtimeFolder` takes
    /// the socket when no path beside the lock fits; `logger`, when given, hears where it went.
    explicit SingleInstance(
        std::filesystem::path folder,
        const std::optional<std::filesystem::path>& runtimeFolder = std::nullopt,
        FileLogger* logger = nullptr);
    /// Releases the lock and removes the socket.
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// Takes the lock and starts listening. False when another process holds it; that process is
    /// then asked to come forward, and `holderPid` names it when it could be read. Also false,
    /// with `refusal` saying why, when the lock's place holds a link or anything but a file:
    /// nothing is written through it.
    bool acquire();
    /// Why `acquire` refused to run for a reason other than a running holder.
    const std::optional<std::string>& refusal() const { return refusal_; }
    /// Answers the commands' requests from now on; until then they get an error reply.
    void setRequestHandler(ControlRequestHandler handler) { handler_ = std::move(handler); }

    /// The process id written by the instance holding the lock.
    std::optional<pid_t> holderPid() const { return holderPid_; }

    std::filesystem::path lockFilePath() const { return folder_ / "Stayloom.lock"; }
    /// None when no path fits in a socket address.
    const std::optional<std::filesystem::path>& socketPath() const { return socketPath_; }

signals:
    /// A second start asked this instance to show itself.
    void activationRequested();

private:
    void listen();
    void admit(QLocalSocket* client);
    void notifyRunningInstance() const;
    void log(const std::string& message) const;

    std::filesystem::path folder_;
    std::optional<std::filesystem::path> socketPath_;
    FileLogger* logger_;
    int lockFd_ = -1;
    std::optional<pid_t> holderPid_;
    std::optional<std::string> refusal_;
    QLocalServer* server_ = nullptr;
    ControlRequestHandler handler_;
    int connections_ = 0;
    /// Connections open per peer process, so one process cannot take every place.
    std::map<pid_t, int> connectionsByPeer_;
};

} // namespace nodwarden::app
