#pragma once

#include <NodwardenCore/Date.hpp>
#include <NodwardenCore/UsageMetrics.hpp>

#include <string_view>

class QSettings;

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

/// The statistics account in the user-defaults store.
namespace MetricsStore {

/// The JSON of `UsageMetrics`, stored as bytes.
inline constexpr std::string_view metricsKey = "Nodwarden.metrics";
/// When the program first ran here, stored as a date.
inline constexpr std::string_view installDateKey = "Nodwarden.metrics.installDate";

/// The stored install date; when there is none, `now` (to the millisecond) is stored and returned.
Date loadOrSeedInstallDate(QSettings& defaults, Date now);
/// The stored account; a fresh one from the install date when nothing decodable is stored.
/// Seeds the install date first.
UsageMetrics load(QSettings& defaults, Date now);
/// Stores nothing when the account cannot be encoded. An unreadable stored document is kept under
/// its key + ".unreadable" (and logged to `logger`) before it is replaced.
void save(QSettings& defaults, const UsageMetrics& metrics, FileLogger& logger);

} // namespace MetricsStore
} // namespace nodwarden::app
