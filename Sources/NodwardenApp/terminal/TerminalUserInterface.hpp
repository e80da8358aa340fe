#pragma once

#include <NodwardenApp/model/UserInterface.hpp>
#include <NodwardenApp/terminal/HeadlessWindowPresenter.hpp>
#include <NodwardenApp/terminal/TerminalModePrompt.hpp>
#include <NodwardenApp/terminal/TerminalTermsPrompt.hpp>

#include <QString>

#include <cstdio>

namespace nodwarden::app {

class HeadlessStatusPrinter;

/// The program's face without a display: a status line on `output` whenever the status changes,
/// and the first run's questions (terms, then mode) asked on the terminal where someone can
/// answer, explained on `messages` where nobody can.
class TerminalUserInterface final : public UserInterface {
public:
    /// Answers are read from `inputFd`; `websiteBase` is where the terms are published (empty:
    /// the copies shipped inside the program).
    TerminalUserInterface(int inputFd, std::FILE* output, std::FILE* messages,
                          const QString& websiteBase);

    WindowPresenter& windowPresenter() override { return windows_; }
    void install(AppModel& model) override;
    /// A terminal has nothing to bring forward.
    void activate() override {}
    void chooseMode(AppMode mode) override;

private:
    std::FILE* output_;
    TerminalTermsPrompt termsPrompt_;
    TerminalModePrompt modePrompt_;
    HeadlessWindowPresenter windows_;
    AppModel* model_ = nullptr;
};

} // namespace nodwarden::app
