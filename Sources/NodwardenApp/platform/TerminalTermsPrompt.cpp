#include <NodwardenApp/platform/TerminalTermsPrompt.hpp>

#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/ui/firstrun/FirstRunTexts.hpp>

#include <QSocketNotifier>

#include <cctype>

#include <unistd.h>

namespace nodwarden::app {

TerminalTermsPrompt::TerminalTermsPrompt(int inputFd, std::FILE* output, std::string termsText,
                                         QObject* parent)
    : QObject(parent), inputFd_(inputFd), output_(output), termsText_(std::move(termsText)) {}

bool TerminalTermsPrompt::canAsk() const {
    // A program started in the background of a shell would be stopped (SIGTTIN) by its first
    // read from the terminal, and with it the whole guard; only the foreground job asks.
    return ::isatty(inputFd_) == 1 && ::tcgetpgrp(inputFd_) == ::getpgrp();
}

void TerminalTermsPrompt::ask() {
    if (notifier_ != nullptr) {
        return;
    }
    write(termsText_);
    write("\n");
    write(question);
    pending_.clear();
    notifier_ = new QSocketNotifier(inputFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminalTermsPrompt::readInput);
    emit listeningChanged(true);
}

void TerminalTermsPrompt::stop() {
    if (notifier_ == nullptr) {
        return;
    }
    delete notifier_;
    notifier_ = nullptr;
    emit listeningChanged(false);
}

std::string TerminalTermsPrompt::termsText(const QString& websiteBase) {
    QString text =
        FirstRun::legalHeading + u'\n' + PlatformWording::current().legalSubtitle + u'\n';
    text += u'\n' + FirstRun::privacyTitle + u'\n' + PlatformWording::current().privacyParagraph +
            u'\n';
    text += u'\n' + FirstRun::responsibilityTitle + u'\n' +
            PlatformWording::current().responsibilityParagraph + u'\n';
    text += QStringLiteral("\nBy answering “y”, you accept our\n");
    for (const FirstRun::LegalLink& link : FirstRun::legalLinks(websiteBase)) {
        text += QStringLiteral("  ") + link.text + QStringLiteral(": ") + link.address + u'\n';
    }
    return text.toStdString();
}

bool TerminalTermsPrompt::isAcceptance(std::string_view line) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!line.empty() && isSpace(line.front())) {
        line.remove_prefix(1);
    }
    while (!line.empty() && isSpace(line.back())) {
        line.remove_suffix(1);
    }
    std::string folded;
    for (const char c : line) {
        folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded == "y" || folded == "yes";
}

void TerminalTermsPrompt::readInput() {
    // The notifier reported data (or the end), so one read cannot block.
    char buffer[256];
    const ssize_t count = ::read(inputFd_, buffer, sizeof buffer);
    if (count <= 0) {
        stop();
        write("\n");
        write(noAnswer);
        write("\n");
        return;
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
    std::size_t newline = 0;
    while (notifier_ != nullptr && (newline = pending_.find('\n')) != std::string::npos) {
        const std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        handleLine(line);
    }
}

void TerminalTermsPrompt::handleLine(std::string_view line) {
    if (isAcceptance(line)) {
        stop();
        emit accepted();
        return;
    }
    write(declined);
}

void TerminalTermsPrompt::write(std::string_view text) const {
    std::fwrite(text.data(), 1, text.size(), output_);
    std::fflush(output_);
}

} // namespace nodwarden::app
