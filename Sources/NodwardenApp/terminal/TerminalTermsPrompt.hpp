#pragma once

#include <NodwardenApp/terminal/TerminalLineReader.hpp>

#include <QObject>
#include <QString>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace nodwarden::app {

/// Asks for acceptance of the terms on a terminal when there is no display to show their window
/// on: prints the terms, then reads answers from the input without blocking the event loop, so
/// the program keeps running (gated) while it waits.
class TerminalTermsPrompt : public QObject {
    Q_OBJECT

public:
    /// The question after the terms.
    static std::string question();
    /// The answer to anything but a yes.
    static std::string declined();
    /// When the input ends without a yes.
    static std::string noAnswer();

    /// Reads from `inputFd` (not owned) and writes to `output`.
    TerminalTermsPrompt(int inputFd, std::FILE* output, std::string termsText,
                        QObject* parent = nullptr);

    /// Whether someone can answer on the terminal (see `whyTerminalCannotAsk`).
    bool canAsk() const { return !whyCannotAsk(); }
    /// Why nobody can, or nothing.
    std::optional<std::string> whyCannotAsk() const;
    /// Prints the terms and the question and starts listening; does nothing while listening.
    void ask();
    /// Stops listening (the terms were accepted elsewhere, or the program ends).
    void stop();
    bool isListening() const;

    /// The terms window's texts for a terminal: heading, subtitle, both points, and the three
    /// documents under `websiteBase` with their addresses.
    static std::string termsText(const QString& websiteBase);

    /// "y" or "yes" in any letter case, surrounding white space ignored.
    static bool isAcceptance(std::string_view line);

signals:
    /// The user answered yes; listening has stopped.
    void accepted();
    /// Listening started or stopped: other output should wait while a question is open.
    void listeningChanged(bool listening);

private:
    void handleLine(std::string_view line);
    void handleEnd();
    void write(std::string_view text) const;

    int inputFd_;
    std::FILE* output_;
    std::string termsText_;
    TerminalLineReader* reader_;
};

} // namespace nodwarden::app
