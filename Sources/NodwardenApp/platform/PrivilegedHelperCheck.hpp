#pragma once

#include <NodwardenCore/sleep/SleepCommandSet.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

/// Why `helper` may not be run with administrator rights, or none when it may: the file (after
/// following links) and every folder above it, on the given path and on the resolved one, must be
/// owned by root and writable by no one else, so that the user cannot swap what runs as root.
std::optional<std::string> privilegedHelperRefusal(const std::filesystem::path& helper);

/// The sleep-switch commands over `helperPath`. A helper that `privilegedHelperRefusal` refuses
/// is never elevated: the engage and administrator-restore commands then fail at once with the
/// refusal (so lid-closed protection reads as declined), and one line says why in `logger`.
SleepCommandSet checkedSleepSwitchCommands(const std::string& elevatorPath,
                                           const std::string& helperPath, FileLogger& logger);

} // namespace nodwarden::app
