#pragma once

#include <NodwardenApp/platform/WindowPresenter.hpp>

#include <cstdio>

namespace nodwarden::app {

class TerminalTermsPrompt;

/// The model's windows when there is no display: the terms are asked for on the terminal when
/// there is one, and otherwise the user is told once why nothing is kept awake. The first-run tour
/// and the settings window need a desktop; they wait for a run that has one.
class HeadlessWindowPresenter final : public WindowPresenter {
public:
    /// Printed when the terms need accepting and nobody can be asked.
    static constexpr const char* cannotAsk =
        "Stayloom keeps nothing awake until its terms are accepted, and there is neither a "
        "display nor a terminal to ask on. Start it once in a terminal and answer y, or start it "
        "on a desktop.\n";

    /// `prompt` must outlive the presenter; explanations go to `messages`.
    HeadlessWindowPresenter(TerminalTermsPrompt& prompt, std::FILE* messages);

    void presentLegalWindow() override;
    void closeLegalWindow() override;
    void presentOnboardingWindow() override {}
    void presentSettingsWindow(SettingsTab) override {}
    bool isSettingsWindowOpen() const override { return false; }
    void openSystemSettingsPane(SystemSettingsPane) override {}

private:
    TerminalTermsPrompt& prompt_;
    std::FILE* messages_;
    bool explained_ = false;
};

} // namespace nodwarden::app
