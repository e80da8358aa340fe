#pragma once

#include <NodwardenApp/model/LoginItemService.hpp>

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

class WindowPresenter;
struct PlatformWording;

/// Launch at login through the platform's login items: registered at launch when the setting
/// wants it, switched on and off from the settings, and why it is not (yet) active.
class LaunchAtLogin : public QObject {
    Q_OBJECT

public:
    /// Every reference must outlive this.
    LaunchAtLogin(LoginItemService& loginItems, WindowPresenter& windows,
                  const PlatformWording& wording, FileLogger& logger, QObject* parent = nullptr);

    /// "notRegistered", "enabled", "requiresApproval", "notFound" or "unknown(<n>)".
    static std::string statusName(int status);
    static std::string statusName(LoginItemStatus status);

    /// Why launch at login is not (yet) active, when it is not.
    const std::optional<QString>& message() const { return message_; }
    /// The same in the program's own English, for scripts.
    const std::optional<QString>& messageInSourceLanguage() const {
        return messageInSourceLanguage_;
    }

    /// At launch: registers the login item when `wanted` and it is not enabled. A failure is
    /// logged and handed to `failed` (nobody is looking at the settings then).
    void reconcile(bool wanted, const std::function<void(const char* error)>& failed);
    /// Registers or unregisters the login item; `commit` stores whether launch at login is on
    /// in the settings, before the outcome is shown.
    void set(bool enabled, const std::function<void(bool enabled)>& commit);

signals:
    void messageChanged();

private:
    /// The message in `wording`'s words, or none for no message.
    using Message = std::function<QString(const PlatformWording& wording)>;
    void setMessage(const Message& message);

    LoginItemService& loginItems_;
    WindowPresenter& windows_;
    const PlatformWording& wording_;
    FileLogger& logger_;
    std::optional<QString> message_;
    std::optional<QString> messageInSourceLanguage_;
};

} // namespace nodwarden::app
