#pragma once

#include <memory>
#include <string>

namespace nodwarden::linuxplatform {

/// Whether the kernel announced a change to the devices of one subsystem since the last question,
/// from its uevent broadcasts, so a reader can leave sysfs alone while nothing changed. A steady
/// machine costs one non-blocking read of the socket per question.
class UeventListener {
public:
    /// Listens to the kernel's own broadcasts (NETLINK_KOBJECT_UEVENT); none where the socket
    /// cannot be opened (a sandbox without netlink), and the caller then reads every time.
    static std::unique_ptr<UeventListener> kernel(std::string subsystem);

    /// Over any datagram socket that carries messages in the kernel's format ("ACTION@DEVPATH"
    /// and NUL-separated KEY=VALUE fields); takes the descriptor, which must not block.
    UeventListener(int socket, std::string subsystem);
    ~UeventListener();
    UeventListener(const UeventListener&) = delete;
    UeventListener& operator=(const UeventListener&) = delete;

    /// Whether an event of the subsystem arrived since the last call, or events may have been
    /// lost (the socket's buffer overflowed, or it failed). Takes in everything waiting.
    bool changedSinceLastAsked();

    /// Whether one message names `subsystem` in its SUBSYSTEM field.
    static bool concerns(const char* message, std::size_t length, const std::string& subsystem);

private:
    int socket_;
    std::string subsystem_;
    bool failed_ = false;
};

} // namespace nodwarden::linuxplatform
