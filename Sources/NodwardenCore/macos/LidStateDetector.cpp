#include <NodwardenCore/macos/LidStateDetector.hpp>

#include <NodwardenCore/system/AsciiText.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>

#include <string>

namespace nodwarden {

LidStateDetector::LidStateDetector(CommandRunning& runner)
    : LidStateDetector(runner, FileLogger::shared()) {}

LidStateDetector::LidStateDetector(CommandRunning& runner, FileLogger& logger)
    : runner_(runner), logger_(logger) {}

const ShellCommand& LidStateDetector::command() {
    static const ShellCommand lid{"/usr/sbin/ioreg",
                                  {"-r", "-k", "AppleClamshellState", "-d", "1"}};
    return lid;
}

LidState LidStateDetector::lid() {
    try {
        return parseIORegOutput(runner_.run(command()).standardOutput);
    } catch (...) {
        logger_.log("LidStateDetector failed: " + describeCurrentFailure());
        return LidState::unknown;
    }
}

LidState LidStateDetector::parseIORegOutput(std::string_view text) {
    const auto lowered = AsciiText::lowercased(text);
    if (lowered.find("\"appleclamshellstate\" = yes") != std::string::npos ||
        lowered.find("appleclamshellstate = yes") != std::string::npos) {
        return LidState::closed;
    }
    if (lowered.find("\"appleclamshellstate\" = no") != std::string::npos ||
        lowered.find("appleclamshellstate = no") != std::string::npos) {
        return LidState::open;
    }
    return LidState::unknown;
}

} // namespace nodwarden
