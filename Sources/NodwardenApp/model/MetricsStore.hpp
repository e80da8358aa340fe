#pragma once

#include <NodwardenCore/metrics/UsageMetrics.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class QSettings;

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

/// The statistics account: in the user-defaults store (macOS), or in a JSON file of its own
/// where the platform gives it one (`PlatformPaths::statisticsPath`).
namespace MetricsStore {

/// The statistics' own file. It remembers whether its last write failed, so that a disk that
/// keeps failing is logged once, not at every save.
class MetricsFile {
public:
    explicit MetricsFile(std::filesystem::path path) : path_(std::move(path)) {}
    const std::filesystem::path& path() const { return path_; }

    /// Writes `json` atomically (the folder made for its owner alone, the file readable by its
    /// owner alone) and reads it back; true only when the bytes read back are those written. The
    /// first failure after a success is logged to `logger`.
    bool write(std::string_view json, FileLogger& logger);

private:
    std::filesystem::path path_;
    bool failing_ = false;
};

/// The stored install date; when there is none, `now` (to the millisecond) is stored and returned.
Date loadOrSeedInstallDate(QSettings& defaults, Date now);
/// The stored account; a fresh one from the install date when nothing decodable is stored.
/// Seeds the install date first.
UsageMetrics load(QSettings& defaults, Date now);
/// Stores nothing when the account cannot be encoded. An unreadable stored document is kept under
/// its key + ".unreadable" (and logged to `logger`) before it is replaced.
void save(QSettings& defaults, const UsageMetrics& metrics, FileLogger& logger);

/// The account from `file`, after moving it there once from the defaults: the key is removed
/// only when the file was written and read back equal, and when both are there (a move cut short
/// before the key went) a file that decodes wins. A move that fails leaves the key, and the
/// account is read from it. A file that does not decode is kept as "<name>.unreadable" (logged)
/// and a fresh account starts.
UsageMetrics load(QSettings& defaults, MetricsFile& file, Date now, FileLogger& logger);
/// Writes the account to `file`. When that fails it goes to the defaults instead, so that no
/// count is lost, and moves to the file at the next load; after a successful write the key goes.
void save(QSettings& defaults, MetricsFile& file, const UsageMetrics& metrics, FileLogger& logger);

/// The account's two stored forms: compact for the defaults, indented for its own file.
struct EncodedMetrics {
    std::string json;
    std::string readable;
};
/// None when the account cannot be encoded (an agent name that is not UTF-8).
std::optional<EncodedMetrics> encode(const UsageMetrics& metrics);
/// `save` in two halves, so the file's write and its sync can run on another thread: `write`
/// there, then `settle` on the defaults' thread with what it returned.
bool write(MetricsFile& file, const EncodedMetrics& encoded, FileLogger& logger);
void settle(QSettings& defaults, const EncodedMetrics& encoded, bool written, FileLogger& logger);

} // namespace MetricsStore
} // namespace nodwarden::app
