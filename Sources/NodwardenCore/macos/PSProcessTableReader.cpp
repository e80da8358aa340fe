#include <NodwardenCore/macos/PSProcessTableReader.hpp>

#include <NodwardenCore/detection/ProcessDetector.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <exception>
#include <map>

namespace nodwarden {

PSProcessTableReader::PSProcessTableReader(CommandRunning& runner, FileLogger& logger)
    : runner_(runner), logger_(logger) {}

ShellCommand PSProcessTableReader::processListing() {
    return {"/bin/ps", {"-axo", "pid=,ppid=,pcpu=,comm="}};
}

ShellCommand PSProcessTableReader::argumentListing() {
    return {"/bin/ps", {"-axo", "pid=,args="}};
}

std::vector<ProcessSnapshot> PSProcessTableReader::readProcessTable() {
    std::vector<ProcessSnapshot> rows;
    try {
        rows = ProcessDetector::parsePSOutput(runner_.run(processListing()).standardOutput);
    } catch (const std::exception& error) {
        logger_.log(std::string("ProcessDetector failed: ") + error.what());
        return {};
    }

    std::map<std::int32_t, std::string> argumentsByPID;
    try {
        argumentsByPID =
            ProcessDetector::parsePSArgs(runner_.run(argumentListing()).standardOutput);
    } catch (const std::exception&) {
        // Without arguments only agents recognisable by their executable are found this time.
        return rows;
    }
    // The listings are two moments: a process may be in one and not the other.
    for (auto& row : rows) {
        const auto found = argumentsByPID.find(row.pid);
        row.arguments = found != argumentsByPID.end() ? found->second : std::string();
    }
    return rows;
}

} // namespace nodwarden
