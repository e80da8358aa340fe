#include <NodwardenLinux/UeventListener.hpp>

#include <array>
#include <cerrno>
#include <string_view>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nodwarden::linuxplatform {

namespace {

/// The kernel's group; udev's re-broadcasts (group 2) come later and add nothing here.
constexpr unsigned kernelGroup = 1;

} // namespace

std::unique_ptr<UeventListener> UeventListener::kernel(std::string subsystem) {
    const int socket =
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (socket < 0) {
        return nullptr;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kernelGroup;
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        ::close(socket);
        return nullptr;
    }
    return std::make_unique<UeventListener>(socket, std::move(subsystem));
}

UeventListener::UeventListener(int socket, std::string subsystem)
    : socket_(socket), subsystem_(std::move(subsystem)) {}

UeventListener::~UeventListener() {
    ::close(socket_);
}

bool UeventListener::concerns(const char* message, std::size_t length,
                              const std::string& subsystem) {
    const std::string_view text(message, length);
    for (std::size_t at = 0; at < text.size();) {
        const auto end = std::min(text.find('\0', at), text.size());
        const std::string_view field = text.substr(at, end - at);
        if (field.starts_with("SUBSYSTEM=") && field.substr(10) == subsystem) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

bool UeventListener::changedSinceLastAsked() {
    if (failed_) {
        return true; // a broken socket tells nothing, so everything may have changed
    }
    bool changed = false;
    std::array<char, 8192> buffer{};
    for (;;) {
        const ssize_t count = ::recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (count > 0) {
            changed =
                changed || concerns(buffer.data(), static_cast<std::size_t>(count), subsystem_);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return changed;
        } else if (count < 0 && errno == ENOBUFS) {
            changed = true; // events were dropped: any of them may have been ours
        } else {
            failed_ = true;
            return true;
        }
    }
}

} // namespace nodwarden::linuxplatform
