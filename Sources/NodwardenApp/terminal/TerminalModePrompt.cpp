#include <NodwardenApp/terminal/TerminalModePrompt.hpp>

#include <QCoreApplication>

#include <NodwardenApp/model/ModeWords.hpp>

#include <charconv>

namespace nodwarden::app {

std::string TerminalModePrompt::question() {
    return tr("Mode [watch]: ").toStdString();
}

std::string TerminalModePrompt::retry() {
    return tr("Type a number from the list or a mode's name, or press Return for watch: ")
        .toStdString();
}

std::string TerminalModePrompt::noAnswer() {
    return tr("No mode chosen: Stayloom stays off. Choose one later with: stayloom mode watch")
        .toStdString();
}

TerminalModePrompt::TerminalModePrompt(int inputFd, std::FILE* output, QObject* parent)
    : QObject(parent), inputFd_(inputFd), output_(output),
      reader_(new TerminalLineReader(inputFd, this)) {
    connect(reader_, &TerminalLineReader::lineRead, this,
            [this](const QByteArray& line) { handleLine(line.toStdString()); });
    connect(reader_, &TerminalLineReader::ended, this, &TerminalModePrompt::handleEnd);
}

std::optional<std::string> TerminalModePrompt::whyCannotAsk() const {
    return whyTerminalCannotAsk(inputFd_, ::fileno(output_));
}

void TerminalModePrompt::ask() {
    if (isListening()) {
        return;
    }
    write(menuText());
    write(question());
    reader_->start();
    emit listeningChanged(true);
}

void TerminalModePrompt::stop() {
    if (!isListening()) {
        return;
    }
    reader_->stop();
    emit listeningChanged(false);
}

std::string TerminalModePrompt::menuText() {
    std::string text =
        "\n" + tr("How should Stayloom keep this computer awake?").toStdString() + "\n";
    int number = 1;
    for (const ModeWord& entry : modeWords()) {
        std::string word(entry.word);
        word.resize(13, ' ');
        text += "  " + std::to_string(number++) + "  " + word +
                QCoreApplication::translate("ModeWords", entry.explanation.data()).toStdString() +
                "\n";
    }
    text += tr("Change it any time with: stayloom mode <name>").toStdString() + "\n";
    return text;
}

std::optional<AppMode> TerminalModePrompt::answerMode(std::string_view line) {
    const std::string answer = normalisedAnswer(line);
    if (answer.empty()) {
        return AppMode::watchAgentUI;
    }
    std::size_t number = 0;
    const auto [end, error] = std::from_chars(answer.data(), answer.data() + answer.size(), number);
    if (error == std::errc() && end == answer.data() + answer.size()) {
        if (number >= 1 && number <= modeWords().size()) {
            return modeWords()[number - 1].mode;
        }
        return std::nullopt;
    }
    return modeFromWord(answer);
}

void TerminalModePrompt::handleLine(std::string_view line) {
    if (const auto mode = answerMode(line)) {
        stop();
        emit chosen(*mode);
        return;
    }
    write(retry());
}

void TerminalModePrompt::handleEnd() {
    emit listeningChanged(false);
    write("\n");
    write(noAnswer());
    write("\n");
}

void TerminalModePrompt::write(std::string_view text) const {
    std::fwrite(text.data(), 1, text.size(), output_);
    std::fflush(output_);
}

} // namespace nodwarden::app
