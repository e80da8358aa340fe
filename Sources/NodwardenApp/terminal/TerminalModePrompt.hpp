#pragma once

#include <NodwardenApp/terminal/TerminalLineReader.hpp>
#include <NodwardenCore/model/AppMode.hpp>

#include <QObject>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace nodwarden::app {

/// The terminal's last first-run step, in place of the desktop tour: which mode to run in, with
/// watch as the answer to a bare Return.
class TerminalModePrompt : public QObject {
    Q_OBJECT

public:
    static std::string question();
    static std::string retry();
    /// When the input ends without an answer.
    static std::string noAnswer();

    /// Reads from `inputFd` (not owned) and writes to `output`.
    TerminalModePrompt(int inputFd, std::FILE* output, QObject* parent = nullptr);

    bool canAsk() const { return !whyCannotAsk(); }
    std::optional<std::string> whyCannotAsk() const;
    /// Prints the modes and the question and starts listening; does nothing while listening.
    void ask();
    void stop();
    bool isListening() const { return reader_->isListening(); }

    /// The list printed before the question: one numbered line per mode.
    static std::string menuText();
    /// An empty line is watch; otherwise a number of the list or a mode's word, surrounding
    /// white space ignored.
    static std::optional<AppMode> answerMode(std::string_view line);

signals:
    /// A mode was chosen; listening has stopped.
    void chosen(nodwarden::AppMode mode);
    void listeningChanged(bool listening);

private:
    void handleLine(std::string_view line);
    void handleEnd();
    void write(std::string_view text) const;

    int inputFd_;
    std::FILE* output_;
    TerminalLineReader* reader_;
};

} // namespace nodwarden::app
