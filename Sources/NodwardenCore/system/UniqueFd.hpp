#pragma once

#include <NodwardenCore/Export.hpp>

#include <utility>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Owns one file descriptor and closes it when it goes, whichever way the scope ends.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    explicit operator bool() const { return isOpen(); }
    /// Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1);
    /// Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

} // namespace nodwarden
