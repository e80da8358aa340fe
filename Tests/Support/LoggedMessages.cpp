#include "Support/LoggedMessages.hpp"

#include "Support/TemporaryDirectory.hpp"

#include <NodwardenCore/system/FileLogger.hpp>

#include <regex>

namespace stayloom::testing {

std::vector<std::string> loggedMessages(nodwarden::FileLogger& logger) {
    static const std::regex stampedLine(R"(\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z\] (.*))");
    logger.flush();
    std::vector<std::string> messages;
    for (const std::string& line : linesOf(readFile(logger.logPath()))) {
        std::smatch match;
        messages.push_back(std::regex_match(line, match, stampedLine) ? match[1].str()
                                                                      : "UNSTAMPED: " + line);
    }
    return messages;
}

} // namespace stayloom::testing
