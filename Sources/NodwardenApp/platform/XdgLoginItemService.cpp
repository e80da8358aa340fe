#include <NodwardenApp/platform/XdgLoginItemService.hpp>

#include <utility>

namespace nodwarden::app {

XdgLoginItemService::XdgLoginItemService(linuxplatform::XdgAutostart autostart)
    : autostart_(std::move(autostart)) {}

LoginItemStatus XdgLoginItemService::status() {
    // An earlier version's entry gives way to one under the desktop-file id the first time it is
    // seen; should that fail, the earlier one still starts the program and is reported as such.
    try {
        autostart_.replaceEarlierEntry();
    } catch (const linuxplatform::AutostartError&) {
    }
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
