#pragma once

#include <NodwardenApp/model/WindowPresenter.hpp>

#include <cstdio>
#include <string>

namespace nodwarden::app {

class TerminalModePrompt;
class TerminalTermsPrompt;

/// The model's windows when there is no display. The terms and then the mode are asked for on
/// the terminal when someone can answer there; otherwise the user is told once why nothing is
/// kept awake and exactly which commands finish the set-up. The settings window needs a desktop.
class HeadlessWindowPresenter final : public WindowPresenter {
public:
    /// Printed when the terms need accepting and nobody can be asked; `reason` says why not.
    static std::string cannotAskTerms(const std::string& reason, const std::string& termsAddress);
    /// Printed when the first run's mode is still to be chosen and nobody can be asked.
    static std::string cannotAskMode(const std::string& reason);

    /// The prompts must outlive the presenter; explanations go to `messages`. `termsAddress` is
    /// where the terms can be read.
    HeadlessWindowPresenter(TerminalTermsPrompt& terms, TerminalModePrompt& mode,
                            std::FILE* messages, std::string termsAddress);

    void presentLegalWindow() override;
    void closeLegalWindow() override;
    void presentOnboardingWindow() override;
    void presentSettingsWindow(SettingsTab) override {}
    bool isSettingsWindowOpen() const override { return false; }
    void openSystemSettingsPane(SystemSettingsPane) override {}

    /// The first run waits for its mode (asked, or explained as missing).
    bool isOnboardingOpen() const { return onboardingOpen_; }
    /// The mode was chosen (on the terminal or by a command): stops the question.
    void closeOnboarding();

private:
    void explain(bool& explained, const std::string& text);

    TerminalTermsPrompt& terms_;
    TerminalModePrompt& mode_;
    std::FILE* messages_;
    std::string termsAddress_;
    bool onboardingOpen_ = false;
    bool termsExplained_ = false;
    bool modeExplained_ = false;
};

} // namespace nodwarden::app
