#include <NodwardenCore/system/UniqueFd.hpp>

#include <unistd.h>

namespace nodwarden {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset(std::exchange(other.fd_, -1));
    }
    return *this;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) {
        ::close(fd_);
    }
    fd_ = fd;
}

} // namespace nodwarden
