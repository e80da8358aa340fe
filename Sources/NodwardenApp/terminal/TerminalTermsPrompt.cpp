#include <NodwardenApp/terminal/TerminalTermsPrompt.hpp>

#include <NodwardenApp/model/FirstRunTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>

#include <unistd.h>

namespace nodwarden::app {

std::string TerminalTermsPrompt::question() {
    return tr("Do you accept? Type y and press Return (Ctrl+C quits): ").toStdString();
}

std::string TerminalTermsPrompt::declined() {
    return tr("Not accepted: Stayloom stays paused and keeps nothing awake until the terms are "
              "accepted. Type y to accept (Ctrl+C quits): ")
        .toStdString();
}

std::string TerminalTermsPrompt::noAnswer() {
    return tr("No answer: Stayloom stays paused and keeps nothing awake until the terms are "
              "accepted. "
              "Accept them later with: stayloom accept-terms")
        .toStdString();
}

TerminalTermsPrompt::TerminalTermsPrompt(int inputFd, std::FILE* output, std::string termsText,
                                         QObject* parent)
    : QObject(parent), inputFd_(inputFd), output_(output), termsText_(std::move(termsText)),
      reader_(new TerminalLineReader(inputFd, this)) {
    connect(reader_, &TerminalLineReader::lineRead, this,
            [this](const QByteArray& line) { handleLine(line.toStdString()); });
    connect(reader_, &TerminalLineReader::ended, this, &TerminalTermsPrompt::handleEnd);
}

std::optional<std::string> TerminalTermsPrompt::whyCannotAsk() const {
    return whyTerminalCannotAsk(inputFd_, ::fileno(output_));
}

bool TerminalTermsPrompt::isListening() const {
    return reader_->isListening();
}

void TerminalTermsPrompt::ask() {
    if (isListening()) {
        return;
    }
    write(termsText_);
    write("\n");
    write(question());
    reader_->start();
    emit listeningChanged(true);
}

void TerminalTermsPrompt::stop() {
    if (!isListening()) {
        return;
    }
    reader_->stop();
    emit listeningChanged(false);
}

std::string TerminalTermsPrompt::termsText(const QString& websiteBase) {
    QString text =
        FirstRun::legalHeading() + u'\n' + PlatformWording::current().legalSubtitle + u'\n';
    text += u'\n' + FirstRun::privacyTitle() + u'\n' + PlatformWording::current().privacyParagraph +
            u'\n';
    text += u'\n' + FirstRun::responsibilityTitle() + u'\n' +
            PlatformWording::current().responsibilityParagraph + u'\n';
    text += tr("\nBy answering “y”, you accept our\n");
    for (const FirstRun::LegalLink& link : FirstRun::legalLinks(websiteBase)) {
        text += QStringLiteral("  ") + link.text + QStringLiteral(": ") + link.address + u'\n';
    }
    return text.toStdString();
}

bool TerminalTermsPrompt::isAcceptance(std::string_view line) {
    const std::string answer = normalisedAnswer(line);
    // The English answers work in every language, beside the language's own.
    return answer == "y" || answer == "yes" || answer == tr("y").toLower().toStdString() ||
           answer == tr("yes").toLower().toStdString();
}

void TerminalTermsPrompt::handleEnd() {
    emit listeningChanged(false);
    write("\n");
    write(noAnswer());
    write("\n");
}

void TerminalTermsPrompt::handleLine(std::string_view line) {
    if (isAcceptance(line)) {
        stop();
        emit accepted();
        return;
    }
    write(declined());
}

void TerminalTermsPrompt::write(std::string_view text) const {
    std::fwrite(text.data(), 1, text.size(), output_);
    std::fflush(output_);
}

} // namespace nodwarden::app
