#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/system/PlatformPaths.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <chrono>
#include <filesystem>
#include <string>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The diagnostic log: one "[<UTC time>] <message>" line per call, appended in call order on a
/// private queue, so callers never wait for the disk and never see a failure. With a rotation,
/// a line that would take the file past its bound is written to a fresh file after the older ones
/// moved down; the file is locked while it is measured and rotated, so another process logging to
/// it never writes into a file that is being moved, nor rotates it a second time.
class FileLogger {
public:
    /// Writes to the platform's default log file, rotated as the platform's log is (see
    /// `PlatformPaths::diagnosticLogPath`, `PlatformPaths::diagnosticLogRotation`).
    FileLogger();
    /// Writes to `logPath`; its folders are created when the first line is written. By default
    /// the file is never rotated.
    explicit FileLogger(std::filesystem::path logPath, PlatformPaths::LogRotation rotation = {});
    /// Writes every line still queued before returning.
    ~FileLogger();
    FileLogger(const FileLogger&) = delete;
    FileLogger& operator=(const FileLogger&) = delete;

    /// The process-wide logger at the default location, created on first use.
    static FileLogger& shared();

    const std::filesystem::path& logPath() const { return logPath_; }

    /// Stamps the line with the current time and queues its write; returns at once.
    void log(const std::string& message);

    /// Blocks until every line queued before this call has been written (or dropped).
    void flush();

    /// The complete line for `message` at `time`, line feed included.
    static std::string formatLine(std::chrono::system_clock::time_point time,
                                  const std::string& message);

private:
    const std::filesystem::path logPath_;
    const PlatformPaths::LogRotation rotation_;
    SerialQueue queue_;
};

} // namespace nodwarden
