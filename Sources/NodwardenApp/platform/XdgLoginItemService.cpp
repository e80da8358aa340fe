#include <NodwardenApp/platform/XdgLoginItemService.hpp>

#include <utility>

namespace nodwarden::app {

XdgLoginItemService::XdgLoginItemService(linuxplatform::XdgAutostart autostart)
    : autostart_(std::move(autostart)) {}

LoginItemStatus XdgLoginItemService::status() {
    return autostart_.isEnabled() ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
}

void XdgLoginItemService::registerItem() {
    try {
        autostart_.enable();
    } catch (const linuxplatform::AutostartError& error) {
        throw LoginItemError(error.what());
    }
}

void XdgLoginItemService::unregisterItem() {
    try {
        autostart_.disable();
    } catch (const linuxplatform::AutostartError& error) {
        throw LoginItemError(error.what());
    }
}

} // namespace nodwarden::app
