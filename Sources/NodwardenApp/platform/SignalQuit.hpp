#pragma once

#include <QObject>

#include <csignal>
#include <vector>

class QSocketNotifier;

namespace nodwarden::app {

/// Turns termination signals into a Qt signal on the main thread, so they end the program through
/// the same path as the Quit button. The handler only writes to a pipe; everything else runs from
/// the event loop. One instance at a time.
class SignalQuit : public QObject {
    Q_OBJECT

public:
    /// Signals that end the program: interrupt, terminate, and the hang-up of a closed terminal.
    static std::vector<int> standardSignals() { return {SIGINT, SIGTERM, SIGHUP}; }

    /// Installs handlers for `signalNumbers`, except for a hang-up that this process was started
    /// ignoring (`nohup`): the user asked for the program to outlive its terminal. Throws
    /// std::system_error when the pipe cannot be made.
    explicit SignalQuit(std::vector<int> signalNumbers = standardSignals(),
                        QObject* parent = nullptr);
    /// Puts back the handlers that were installed before.
    ~SignalQuit() override;
    SignalQuit(const SignalQuit&) = delete;
    SignalQuit& operator=(const SignalQuit&) = delete;

signals:
    /// Emitted once, for the first signal received; later ones are absorbed while quitting.
    void quitRequested(int signalNumber);

private:
    void drain();

    std::vector<int> signalNumbers_;
    std::vector<struct sigaction> previous_;
    QSocketNotifier* notifier_ = nullptr;
    bool requested_ = false;
};

} // namespace nodwarden::app
