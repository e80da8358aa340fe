#include <NodwardenApp/platform/SignalQuit.hpp>

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace nodwarden::app {

namespace {

/// The pipe the handler writes to; -1 while no instance exists.
volatile sig_atomic_t writeEnd = -1;
int readEnd = -1;

extern "C" void onQuitSignal(int signalNumber) {
    const int savedErrno = errno;
    if (writeEnd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

SignalQuit::SignalQuit(std::vector<int> signalNumbers, QObject* parent)
    : QObject(parent), signalNumbers_(std::move(signalNumbers)) {
    int ends[2];
    // Non-blocking so a burst of signals can never block the handler on a full pipe.
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "signal pipe");
    }
    readEnd = ends[0];
    writeEnd = ends[1];

    notifier_ = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalQuit::drain);

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers_) {
        struct sigaction old = {};
        ::sigaction(signalNumber, nullptr, &old);
        if (signalNumber != SIGHUP || old.sa_handler != SIG_IGN) {
            ::sigaction(signalNumber, &action, nullptr);
        }
        previous_.push_back(old);
    }
}

SignalQuit::~SignalQuit() {
    for (std::size_t index = 0; index < signalNumbers_.size(); ++index) {
        ::sigaction(signalNumbers_[index], &previous_[index], nullptr);
    }
    const int oldWrite = writeEnd;
    writeEnd = -1;
    ::close(oldWrite);
    delete notifier_;
    ::close(readEnd);
    readEnd = -1;
}

void SignalQuit::drain() {
    unsigned char bytes[64];
    int first = 0;
    ssize_t count = 0;
    while ((count = ::read(readEnd, bytes, sizeof bytes)) > 0) {
        if (first == 0) {
            first = bytes[0];
        }
    }
    if (first != 0 && !requested_) {
        requested_ = true;
        emit quitRequested(first);
    }
}

} // namespace nodwarden::app
