#pragma once

#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

class QSettings;

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

/// The user's mode and settings in the user-defaults store. Nothing here reports failure.
namespace SettingsStore {

/// `off` when nothing is stored or the string is not a mode's raw value.
AppMode loadMode(QSettings& defaults);
/// The fresh-installation defaults when nothing is stored or it does not decode; what is stored
/// is left as it is.
GuardSettings loadSettings(QSettings& defaults);
void saveMode(QSettings& defaults, AppMode mode);
/// Stores nothing when the settings cannot be encoded. An unreadable stored document is kept
/// under its key + ".unreadable" (and logged to `logger`) before it is replaced.
void saveSettings(QSettings& defaults, const GuardSettings& settings, FileLogger& logger);

} // namespace SettingsStore
} // namespace nodwarden::app
