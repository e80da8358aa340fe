#pragma once

#include <functional>
#include <optional>
#include <string>

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app::macos {

/// The macOS build's updater start for `AppEnvironment::startUpdater`: the software-update
/// controller is started only when the bundle's information dictionary names an update feed
/// ("SUFeedURL"); `startController` starts it and says whether it checks automatically. Either
/// way one line is logged. The Linux build has no updater: the system's packages update it.
std::function<void()> bundleUpdaterStart(std::optional<std::string> feedURL,
                                         std::function<bool()> startController, FileLogger& logger);

} // namespace nodwarden::app::macos
