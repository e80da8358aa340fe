#include <NodwardenApp/platform/LoginItemPair.hpp>

#include <optional>

namespace nodwarden::app {

LoginItemPair::LoginItemPair(std::unique_ptr<LoginItemService> primary,
                             std::unique_ptr<LoginItemService> other)
    : primary_(std::move(primary)), other_(std::move(other)) {}

LoginItemStatus LoginItemPair::status() {
    const LoginItemStatus primary = primary_->status();
    if (primary == LoginItemStatus::enabled || other_->status() != LoginItemStatus::enabled) {
        return primary;
    }
    return LoginItemStatus::enabled;
}

void LoginItemPair::registerItem() {
    primary_->registerItem();
}

void LoginItemPair::unregisterItem() {
    std::optional<LoginItemError> failure;
    for (LoginItemService* service : {primary_.get(), other_.get()}) {
        try {
            service->unregisterItem();
        } catch (const LoginItemError& error) {
            if (!failure) {
                failure = error;
            }
        }
    }
    if (failure) {
        throw *failure;
    }
}

} // namespace nodwarden::app
