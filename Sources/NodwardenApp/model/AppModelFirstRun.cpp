#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/StoredValue.hpp>
#include <NodwardenApp/model/WorkNotifier.hpp>
#include <NodwardenCore/detection/AccessibilityDetector.hpp>
#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>

#include <QSettings>

#include <exception>

namespace nodwarden::app {

using detail::assignIfChanged;
using detail::qstring;

namespace {

std::string boolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

std::string AppModel::statusName(int status) {
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

std::string AppModel::statusName(LoginItemStatus status) {
    return statusName(int(status));
}

void AppModel::reconcileLaunchAtLogin() {
    LoginItemService& loginItems = *environment_.loginItems;
    const bool wanted = settings_.launchAtLoginEnabled;
    const LoginItemStatus status = loginItems.status();
    log("Launch at login on launch: wanted=" + boolText(wanted) +
        ", OS status=" + statusName(status));
    if (!wanted || status == LoginItemStatus::enabled) {
        return;
    }
    try {
        loginItems.registerItem();
    } catch (const std::exception& error) {
        log(std::string("Launch at login reconcile failed: ") + error.what());
        // Nobody is looking at the settings at start, where a failure met later is shown.
        if (notifier_) {
            notifier_->launchAtLoginFailed(error.what(), settings_);
        }
        return;
    }
    const LoginItemStatus now = loginItems.status();
    log("Launch at login reconciled on launch (now " + statusName(now) + ")");
    if (now == LoginItemStatus::requiresApproval) {
        setLaunchAtLoginMessage(
            [](const PlatformWording& words) { return words.launchApprovalMessage; });
    }
}

void AppModel::setLaunchAtLogin(bool enabled) {
    LoginItemService& loginItems = *environment_.loginItems;
    GuardSettings updated = settings_;
    if (!enabled) {
        try {
            loginItems.unregisterItem();
        } catch (const std::exception&) {
            // Left alone on purpose: the setting is what the user asked for.
        }
        updated.launchAtLoginEnabled = false;
        commitSettings(updated);
        setLaunchAtLoginMessage(nullptr);
        log("Launch at login disabled");
        return;
    }

    try {
        loginItems.registerItem();
    } catch (const std::exception& error) {
        updated.launchAtLoginEnabled = false;
        commitSettings(updated);
        const QString refusal = QString::fromUtf8(error.what());
        setLaunchAtLoginMessage([&refusal](const PlatformWording& words) -> QString {
            return words.launchBlockedPrefix + refusal + words.launchBlockedSuffix;
        });
        log(std::string("Launch at login register failed: ") + error.what());
        return;
    }
    updated.launchAtLoginEnabled = true;
    commitSettings(updated);
    const LoginItemStatus status = loginItems.status();
    if (status == LoginItemStatus::requiresApproval) {
        setLaunchAtLoginMessage(
            [](const PlatformWording& words) { return words.launchApprovalMessage; });
        log("Launch at login requires approval");
        environment_.windows->openSystemSettingsPane(SystemSettingsPane::loginItems);
    } else if (status != LoginItemStatus::enabled) {
        setLaunchAtLoginMessage(
            [](const PlatformWording& words) { return words.launchNotActiveMessage; });
        log("Launch at login status after register: " + statusName(status));
    } else {
        setLaunchAtLoginMessage(nullptr);
        log("Launch at login enabled");
    }
}

void AppModel::presentLegalAcceptanceIfNeeded() {
    if (!needsLegalAcceptance_) {
        return;
    }
    environment_.windows->presentLegalWindow();
}

void AppModel::presentOnboardingIfNeeded() {
    const bool completed =
        defaults().value(qstring(StoredKeys::hasCompletedOnboarding), false).toBool();
    if (!Onboarding::needsOnboarding(completed, needsLegalAcceptance_)) {
        return;
    }
    environment_.windows->presentOnboardingWindow();
}

void AppModel::acceptLegal() {
    defaults().setValue(qstring(StoredKeys::acceptedLegalVersion), wording().legalVersion);
    defaults().setValue(qstring(StoredKeys::acceptedLegalDate), StoredValue::date(now()));
    setNeedsLegalAcceptance(false);
    log("Accepted legal v" + wording().legalVersion.toStdString());
    // Closed whoever opened it; the presenter ignores a window that is not open.
    environment_.windows->closeLegalWindow();
    presentOnboardingIfNeeded();
    tick();
}

void AppModel::openSettingsWindow(std::optional<SettingsTab> tab) {
    if (tab) {
        setSelectedSettingsTab(*tab);
    }
    environment_.windows->presentSettingsWindow(selectedSettingsTab_);
}

void AppModel::requestAccessibilityPermission() {
    environment_.accessibility->requestPermissionPrompt();
    environment_.windows->openSystemSettingsPane(SystemSettingsPane::accessibility);
    refreshAccessibilityTrust();
}

void AppModel::refreshAccessibilityTrust() {
    assignIfChanged(accessibilityTrusted_, environment_.accessibility->isTrusted(),
                    [this] { emit accessibilityTrustedChanged(); });
}

} // namespace nodwarden::app
