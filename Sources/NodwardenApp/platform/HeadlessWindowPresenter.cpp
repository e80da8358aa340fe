#include <NodwardenApp/platform/HeadlessWindowPresenter.hpp>

#include <NodwardenApp/platform/TerminalTermsPrompt.hpp>

namespace nodwarden::app {

HeadlessWindowPresenter::HeadlessWindowPresenter(TerminalTermsPrompt& prompt, std::FILE* messages)
    : prompt_(prompt), messages_(messages) {}

void HeadlessWindowPresenter::presentLegalWindow() {
    if (prompt_.canAsk()) {
        prompt_.ask();
        return;
    }
    if (!explained_) {
        explained_ = true;
        std::fputs(cannotAsk, messages_);
        std::fflush(messages_);
    }
}

void HeadlessWindowPresenter::closeLegalWindow() {
    prompt_.stop();
}

} // namespace nodwarden::app
