#pragma once

// What a test saw come out: the text written to a temporary stream, and the emissions of a signal.

#include <QObject>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace stayloom::testing {

/// Everything written to a temporary stream so far.
std::string contents(std::FILE* stream);

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
