#include <NodwardenApp/platform/macos/BundleUpdater.hpp>

#include <NodwardenCore/system/FileLogger.hpp>

#include <utility>

namespace nodwarden::app::macos {

std::function<void()> bundleUpdaterStart(std::optional<std::string> feedURL,
                                         std::function<bool()> startController,
                                         FileLogger& logger) {
    return [feedURL = std::move(feedURL), startController = std::move(startController), &logger] {
        if (!feedURL || !startController) {
            logger.log("Updater: no SUFeedURL in Info.plist (dev build) — Sparkle not started");
            return;
        }
        const bool automaticChecks = startController();
        logger.log(std::string("Updater started (auto-check: ") +
                   (automaticChecks ? "true" : "false") + ")");
    };
}

} // namespace nodwarden::app::macos
