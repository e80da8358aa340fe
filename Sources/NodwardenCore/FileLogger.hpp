#pragma once

#include <NodwardenCore/SerialQueue.hpp>

#include <chrono>
#include <filesystem>
#include <string>

namespace nodwarden {

/// The diagnostic log: one "[<UTC time>] <message>" line per call, appended in call order on a
/// private queue, so callers never wait for the disk and never see a failure.
class FileLogger {
public:
    /// Writes to the platform's default log file (see `PlatformPaths::diagnosticLogPath`).
    FileLogger();
    /// Writes to `logPath`; its folders are created when the first line is written.
    explicit FileLogger(std::filesystem::path logPath);
    /// Writes every line still queued before returning.
    ~FileLogger();
    FileLogger(const FileLogger&) = delete;
    FileLogger& operator=(const FileLogger&) = delete;

    /// The process-wide logger at the default location, created on first use.
    static FileLogger& shared();

    const std::filesystem::path& logPath() const { return logPath_; }

    /// Stamps the line with the current time and queues its write; returns at once.
    void log(std::string message);

    /// Blocks until every line queued before this call has been written (or dropped).
    void flush();

    /// The complete line for `message` at `time`, line feed included.
    static std::string formatLine(std::chrono::system_clock::time_point time,
                                  const std::string& message);

private:
    const std::filesystem::path logPath_;
    SerialQueue queue_;
};

} // namespace nodwarden
