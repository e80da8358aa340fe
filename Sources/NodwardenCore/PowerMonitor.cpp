#include <NodwardenCore/PowerMonitor.hpp>

#include <NodwardenCore/AsciiText.hpp>
#include <NodwardenCore/FileLogger.hpp>
#include <NodwardenCore/ShellCommand.hpp>
#include <NodwardenCore/UnicodeText.hpp>

#include <charconv>
#include <exception>
#include <regex>
#include <string>

namespace nodwarden {

namespace {

bool contains(const std::string& haystack, std::string_view needle) {
    return haystack.find(needle) != std::string::npos;
}

std::optional<int> firstPercentage(std::string_view text) {
    static const std::regex percentage(R"((\d{1,3})%)");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_search(text.begin(), text.end(), match, percentage)) {
        return std::nullopt;
    }
    const auto digits = text.substr(static_cast<std::size_t>(match.position(1)),
                                    static_cast<std::size_t>(match.length(1)));
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

// Tool failures reach us as exceptions of several kinds; the log shows each one's own text.
std::string describeCurrentException() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

PowerMonitor::PowerMonitor(CommandRunning& runner) : PowerMonitor(runner, FileLogger::shared()) {}

PowerMonitor::PowerMonitor(CommandRunning& runner, FileLogger& logger)
    : runner_(runner), logger_(logger) {}

const ShellCommand& PowerMonitor::command() {
    static const ShellCommand power{"/usr/bin/pmset", {"-g", "batt"}};
    return power;
}

PowerSnapshot PowerMonitor::snapshot() {
    try {
        return parsePMSetBatteryOutput(runner_.run(command()).standardOutput);
    } catch (...) {
        logger_.log("PowerMonitor failed: " + describeCurrentException());
        return PowerSnapshot{false, std::nullopt, "Unable to read battery state"};
    }
}

PowerSnapshot PowerMonitor::parsePMSetBatteryOutput(std::string_view text) {
    const auto lowered = AsciiText::lowercased(text);
    // The tool names its source as drawing from 'AC Power'; the quoted form is the usual one.
    const bool onMains = contains(lowered, "'ac power'") || contains(lowered, "ac power");
    return PowerSnapshot{onMains, firstPercentage(text), UnicodeText::trimmed(text)};
}

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
        logger_.log("LidStateDetector failed: " + describeCurrentException());
        return LidState::unknown;
    }
}

LidState LidStateDetector::parseIORegOutput(std::string_view text) {
    const auto lowered = AsciiText::lowercased(text);
    if (contains(lowered, "\"appleclamshellstate\" = yes") ||
        contains(lowered, "appleclamshellstate = yes")) {
        return LidState::closed;
    }
    if (contains(lowered, "\"appleclamshellstate\" = no") ||
        contains(lowered, "appleclamshellstate = no")) {
        return LidState::open;
    }
    return LidState::unknown;
}

} // namespace nodwarden
