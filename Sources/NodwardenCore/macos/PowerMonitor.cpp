#include <NodwardenCore/macos/PowerMonitor.hpp>

#include <NodwardenCore/system/AsciiText.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/ShellCommand.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <charconv>
#include <exception>
#include <regex>
#include <string>

namespace nodwarden {

namespace {

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
        logger_.log("PowerMonitor failed: " + describeCurrentFailure());
        return PowerSnapshot{false, std::nullopt, "Unable to read battery state"};
    }
}

PowerSnapshot PowerMonitor::parsePMSetBatteryOutput(std::string_view text) {
    const auto lowered = AsciiText::lowercased(text);
    // The tool names its source as drawing from 'AC Power'; the quoted form is the usual one.
    const bool onMains = lowered.find("'ac power'") != std::string::npos ||
                         lowered.find("ac power") != std::string::npos;
    return PowerSnapshot{onMains, firstPercentage(text), UnicodeText::trimmed(text)};
}

} // namespace nodwarden
