#pragma once

#include <NodwardenApp/model/LoginItemService.hpp>

#include <memory>

namespace nodwarden::app {

/// Launch at login on a machine used both with and without a desktop: `primary` is the way of
/// this session (autostart entry or systemd unit), `other` the way of the other kind. Either one
/// already in place counts as enabled, so a start of the other kind does not add a second entry
/// that would start a second copy at login; switching off removes both.
class LoginItemPair final : public LoginItemService {
public:
    LoginItemPair(std::unique_ptr<LoginItemService> primary,
                  std::unique_ptr<LoginItemService> other);

    LoginItemStatus status() override;
    /// Registers `primary` only.
    void registerItem() override;
    /// Unregisters both; the first failure is thrown after both were tried.
    void unregisterItem() override;

private:
    std::unique_ptr<LoginItemService> primary_;
    std::unique_ptr<LoginItemService> other_;
};

} // namespace nodwarden::app
