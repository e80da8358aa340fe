#pragma once

#include <NodwardenCore/Export.hpp>

#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Every key the program keeps in the user-defaults store (`QSettings`), each spelled once here
/// and read and written only through its constant. A key once stored keeps its spelling, whatever
/// its prefix: installations that wrote it read it back.
namespace StoredKeys {

/// The JSON of `GuardSettings`, stored as a document (`StoredValue::document`).
inline constexpr std::string_view settings = "Nodwarden.settings";
/// The raw value of `AppMode`, stored as a string.
inline constexpr std::string_view mode = "Nodwarden.mode";

/// The JSON of `UsageMetrics`, stored as a document (`StoredValue::document`) where the platform
/// gives the statistics no file of their own, and until they are moved to it.
inline constexpr std::string_view metrics = "Nodwarden.metrics";
/// When the program first ran here, stored as a date (`StoredValue::date`). It stays in the
/// defaults beside a statistics file, so a lost file never loses it.
inline constexpr std::string_view metricsInstallDate = "Nodwarden.metrics.installDate";

/// The version of the terms the user accepted (a string; `Legal`).
inline constexpr std::string_view acceptedLegalVersion = "Stayloom.acceptedLegalVersion";
/// The moment of that acceptance (a date).
inline constexpr std::string_view acceptedLegalDate = "Stayloom.acceptedLegalVersion.date";
/// Whether the first-run flow was completed (a boolean; `Onboarding`).
inline constexpr std::string_view hasCompletedOnboarding = "Stayloom.hasCompletedOnboarding";

} // namespace StoredKeys
} // namespace nodwarden
