#pragma once

// What a test saw come out: the text written to a temporary stream, and the emissions of a signal.

#include <QObject>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace stayloom::testing {

/// Everything written to a temporary stream so far.
inline std::string contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[512];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, stream)) {
        text.append(buffer, count);
    }
    return text;
}

/// Every emission of one signal, with its arguments.
template <typename Sender, typename... Arguments> class Recorder {
public:
    Recorder(Sender* sender, void (Sender::*signal)(Arguments...)) {
        QObject::connect(sender, signal, sender,
                         [this](Arguments... values) { emissions.emplace_back(values...); });
    }
    int count() const { return int(emissions.size()); }
    std::vector<std::tuple<Arguments...>> emissions;
};

} // namespace stayloom::testing
