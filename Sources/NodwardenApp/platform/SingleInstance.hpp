#pragma once

#include <NodwardenApp/platform/ControlProtocol.hpp>

#include <QObject>

#include <filesystem>
#include <optional>

#include <sys/types.h>

class QLocalServer;

namespace nodwarden::app {

/// One running program per user: an exclusive lock on a file in the folder that also holds the
/// keep-awake pid file and the lid-closed marker, since two instances would fight over both.
/// A local socket next to it lets a second start ask the running one to come forward, and
/// commands ask it questions (`ControlProtocol`).
class SingleInstance : public QObject {
    Q_OBJECT

public:
    /// `folder` is created when missing; nothing is locked before `acquire`.
    explicit SingleInstance(std::filesystem::path folder, QObject* parent = nullptr);
    /// Releases the lock and removes the socket.
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// Takes the lock and starts listening. False when another process holds it; that process is
    /// then asked to come forward, and `holderPid` names it when it could be read.
    bool acquire();
    /// Answers the commands' requests from now on; until then they get an error reply.
    void setRequestHandler(ControlRequestHandler handler) { handler_ = std::move(handler); }

    /// The process id written by the instance holding the lock.
    std::optional<pid_t> holderPid() const { return holderPid_; }

    std::filesystem::path lockFilePath() const { return folder_ / "Stayloom.lock"; }
    std::filesystem::path socketPath() const { return folder_ / "Stayloom.socket"; }

signals:
    /// A second start asked this instance to show itself.
    void activationRequested();

private:
    void listen();
    void notifyRunningInstance() const;

    std::filesystem::path folder_;
    int lockFd_ = -1;
    std::optional<pid_t> holderPid_;
    QLocalServer* server_ = nullptr;
    ControlRequestHandler handler_;
    int connections_ = 0;
};

} // namespace nodwarden::app
