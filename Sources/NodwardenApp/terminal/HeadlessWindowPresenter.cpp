#include <NodwardenApp/terminal/HeadlessWindowPresenter.hpp>

#include <NodwardenApp/terminal/TerminalModePrompt.hpp>
#include <NodwardenApp/terminal/TerminalTermsPrompt.hpp>

#include <QCoreApplication>

namespace nodwarden::app {

std::string HeadlessWindowPresenter::cannotAskTerms(const std::string& reason,
                                                    const std::string& termsAddress) {
    return QCoreApplication::translate(
               "HeadlessWindowPresenter",
               "Stayloom keeps nothing awake until its terms are accepted, and cannot ask for them "
               "here: %1. Read them at %2, then finish set-up from a terminal with:\n")
               .arg(QString::fromStdString(reason), QString::fromStdString(termsAddress))
               .toStdString() +
           "  stayloom accept-terms\n"
           "  stayloom mode watch\n";
}

std::string HeadlessWindowPresenter::cannotAskMode(const std::string& reason) {
    return QCoreApplication::translate("HeadlessWindowPresenter",
                                       "Stayloom keeps nothing awake until a mode is chosen, and "
                                       "cannot ask for one here: %1. Finish set-up from a terminal "
                                       "with:\n")
               .arg(QString::fromStdString(reason))
               .toStdString() +
           "  stayloom mode watch\n";
}

HeadlessWindowPresenter::HeadlessWindowPresenter(TerminalTermsPrompt& terms,
                                                 TerminalModePrompt& mode, std::FILE* messages,
                                                 std::string termsAddress)
    : terms_(terms), mode_(mode), messages_(messages), termsAddress_(std::move(termsAddress)) {}

void HeadlessWindowPresenter::presentLegalWindow() {
    if (const auto reason = terms_.whyCannotAsk()) {
        explain(termsExplained_, cannotAskTerms(*reason, termsAddress_));
        return;
    }
    terms_.ask();
}

void HeadlessWindowPresenter::closeLegalWindow() {
    terms_.stop();
}

void HeadlessWindowPresenter::presentOnboardingWindow() {
    onboardingOpen_ = true;
    if (const auto reason = mode_.whyCannotAsk()) {
        explain(modeExplained_, cannotAskMode(*reason));
        return;
    }
    mode_.ask();
}

void HeadlessWindowPresenter::closeOnboarding() {
    onboardingOpen_ = false;
    mode_.stop();
}

void HeadlessWindowPresenter::explain(bool& explained, const std::string& text) {
    if (explained) {
        return;
    }
    explained = true;
    std::fputs(text.c_str(), messages_);
    std::fflush(messages_);
}

} // namespace nodwarden::app
