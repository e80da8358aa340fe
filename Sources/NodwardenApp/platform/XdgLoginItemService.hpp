#pragma once

#include <NodwardenApp/model/LoginItemService.hpp>
#include <NodwardenLinux/XdgAutostart.hpp>

namespace nodwarden::app {

/// Launch at login through the desktop's autostart folder. There is no approval step: the entry
/// either starts the program (`enabled`) or does not (`notRegistered`). An entry an earlier
/// version wrote under another name is replaced when the status is first read.
class XdgLoginItemService final : public LoginItemService {
public:
    explicit XdgLoginItemService(linuxplatform::XdgAutostart autostart);

    LoginItemStatus status() override;
    void registerItem() override;
    void unregisterItem() override;

private:
    linuxplatform::XdgAutostart autostart_;
};

} // namespace nodwarden::app
