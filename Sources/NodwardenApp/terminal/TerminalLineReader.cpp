#include <NodwardenApp/terminal/TerminalLineReader.hpp>

#include <QCoreApplication>

#include <QSocketNotifier>

#include <cctype>

#include <unistd.h>

namespace nodwarden::app {

std::string normalisedAnswer(std::string_view line) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!line.empty() && isSpace(line.front())) {
        line.remove_prefix(1);
    }
    while (!line.empty() && isSpace(line.back())) {
        line.remove_suffix(1);
    }
    std::string folded;
    folded.reserve(line.size());
    for (const char c : line) {
        folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded;
}

std::optional<std::string> whyTerminalCannotAsk(int inputFd, int outputFd) {
    if (::isatty(inputFd) != 1) {
        return QCoreApplication::translate("TerminalLineReader", "its input is not a terminal")
            .toStdString();
    }
    if (::isatty(outputFd) != 1) {
        return QCoreApplication::translate("TerminalLineReader",
                                           "its output does not go to the terminal")
            .toStdString();
    }
    if (::tcgetpgrp(inputFd) != ::getpgrp()) {
        return QCoreApplication::translate("TerminalLineReader",
                                           "it runs as a background job of the terminal")
            .toStdString();
    }
    return std::nullopt;
}

TerminalLineReader::TerminalLineReader(int inputFd, QObject* parent)
    : QObject(parent), inputFd_(inputFd) {}

void TerminalLineReader::start() {
    if (notifier_ != nullptr) {
        return;
    }
    pending_.clear();
    notifier_ = new QSocketNotifier(inputFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminalLineReader::readInput);
}

void TerminalLineReader::stop() {
    delete notifier_;
    notifier_ = nullptr;
}

void TerminalLineReader::readInput() {
    // The notifier reported data (or the end), so one read cannot block.
    char buffer[256];
    const ssize_t count = ::read(inputFd_, buffer, sizeof buffer);
    if (count <= 0) {
        stop();
        emit ended();
        return;
    }
    pending_.append(buffer, qsizetype(count));
    qsizetype newline = 0;
    while (notifier_ != nullptr && (newline = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(newline);
        pending_.remove(0, newline + 1);
        emit lineRead(line);
    }
    if (pending_.size() > maxLineBytes) {
        const QByteArray line = pending_.left(maxLineBytes);
        pending_.clear();
        emit lineRead(line);
    }
}

} // namespace nodwarden::app
