#pragma once

#include <string>
#include <vector>

namespace nodwarden {
class FileLogger;
}

namespace stayloom::testing {

/// Waits for `logger` to write what it has queued, then returns the messages of its file in
/// order, each without its "[time stamp] " prefix. A line without a well-formed prefix is
/// returned whole behind "UNSTAMPED: ", so a comparison with expected messages fails on it.
std::vector<std::string> loggedMessages(nodwarden::FileLogger& logger);

} // namespace stayloom::testing
