#include <NodwardenApp/model/LaunchAtLogin.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/WindowPresenter.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <exception>
#include <utility>

namespace nodwarden::app {

using detail::assignIfChanged;

namespace {

std::string boolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

LaunchAtLogin::LaunchAtLogin(LoginItemService& loginItems, WindowPresenter& windows,
                             const PlatformWording& wording, FileLogger& logger, QObject* parent)
    : QObject(parent), loginItems_(loginItems), windows_(windows), wording_(wording),
      logger_(logger) {}

std::string LaunchAtLogin::statusName(int status) {
    switch (status) {
    case int(LoginItemStatus::notRegistered):
        return "notRegistered";
    case int(LoginItemStatus::enabled):
        return "enabled";
    case int(LoginItemStatus::requiresApproval):
        return "requiresApproval";
    case int(LoginItemStatus::notFound):
        return "notFound";
    default:
        return "unknown(" + std::to_string(status) + ")";
    }
}

std::string LaunchAtLogin::statusName(LoginItemStatus status) {
    return statusName(int(status));
}

void LaunchAtLogin::reconcile(bool wanted, const std::function<void(const char* error)>& failed) {
    const LoginItemStatus status = loginItems_.status();
    logger_.log("Launch at login on launch: wanted=" + boolText(wanted) +
                ", OS status=" + statusName(status));
    if (!wanted || status == LoginItemStatus::enabled) {
        return;
    }
    try {
        loginItems_.registerItem();
    } catch (const std::exception& error) {
        logger_.log(std::string("Launch at login reconcile failed: ") + error.what());
        failed(error.what());
        return;
    }
    const LoginItemStatus now = loginItems_.status();
    logger_.log("Launch at login reconciled on launch (now " + statusName(now) + ")");
    if (now == LoginItemStatus::requiresApproval) {
        setMessage([](const PlatformWording& words) { return words.launchApprovalMessage; });
    }
}

void LaunchAtLogin::set(bool enabled, const std::function<void(bool enabled)>& commit) {
    if (!enabled) {
        try {
            loginItems_.unregisterItem();
        } catch (const std::exception&) {
            // Left alone on purpose: the setting is what the user asked for.
        }
        commit(false);
        setMessage(nullptr);
        logger_.log("Launch at login disabled");
        return;
    }

    try {
        loginItems_.registerItem();
    } catch (const std::exception& error) {
        commit(false);
        const QString refusal = QString::fromUtf8(error.what());
        setMessage([&refusal](const PlatformWording& words) -> QString {
            return words.launchBlockedPrefix + refusal + words.launchBlockedSuffix;
        });
        logger_.log(std::string("Launch at login register failed: ") + error.what());
        return;
    }
    commit(true);
    const LoginItemStatus status = loginItems_.status();
    if (status == LoginItemStatus::requiresApproval) {
        setMessage([](const PlatformWording& words) { return words.launchApprovalMessage; });
        logger_.log("Launch at login requires approval");
        windows_.openSystemSettingsPane(SystemSettingsPane::loginItems);
    } else if (status != LoginItemStatus::enabled) {
        setMessage([](const PlatformWording& words) { return words.launchNotActiveMessage; });
        logger_.log("Launch at login status after register: " + statusName(status));
    } else {
        setMessage(nullptr);
        logger_.log("Launch at login enabled");
    }
}

void LaunchAtLogin::setMessage(const Message& message) {
    messageInSourceLanguage_ =
        message ? std::optional(message(PlatformWording::inSourceLanguageOf(wording_)))
                : std::nullopt;
    assignIfChanged(message_, message ? std::optional(message(wording_)) : std::nullopt,
                    [this] { emit messageChanged(); });
}

} // namespace nodwarden::app
