#pragma once

#include <QByteArray>
#include <QObject>

#include <optional>
#include <string>
#include <string_view>

class QSocketNotifier;

namespace nodwarden::app {

/// Why nobody could answer a question asked on this terminal, or nothing when somebody can: the
/// input must be a terminal, the output must reach it, and this must be its foreground job (a
/// background job would be stopped by its first read, and with it the whole guard).
std::optional<std::string> whyTerminalCannotAsk(int inputFd, int outputFd);

/// A typed answer as the prompts compare it: surrounding white space removed, ASCII letters in
/// lower case.
std::string normalisedAnswer(std::string_view line);

/// Reads lines typed on a terminal without blocking the event loop. A line longer than
/// `maxLineBytes` is cut there, so input without newlines cannot grow memory.
class TerminalLineReader : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype maxLineBytes = 1024;

    /// Reads from `inputFd`, which it does not own.
    explicit TerminalLineReader(int inputFd, QObject* parent = nullptr);

    void start();
    void stop();
    bool isListening() const { return notifier_ != nullptr; }

signals:
    /// One line without its newline. Listening may be stopped from the slot.
    void lineRead(const QByteArray& line);
    /// The input ended (Ctrl+D, a closed terminal); listening has stopped.
    void ended();

private:
    void readInput();

    int inputFd_;
    QByteArray pending_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace nodwarden::app
