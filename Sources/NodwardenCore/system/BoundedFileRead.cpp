#include <NodwardenCore/system/BoundedFileRead.hpp>

#include <NodwardenCore/system/UniqueFd.hpp>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::BoundedFileRead {

namespace {

/// A look before the open leaves devices and FIFOs unopened (opening some devices does things);
/// O_NONBLOCK keeps a FIFO put there after the look from hanging the open, and the fstat
/// afterwards refuses whatever is not a regular file before a single byte is read from it.
std::optional<UniqueFd> openRegular(const std::filesystem::path& path, Links links, off_t& size) {
    struct stat before {};
    const int looked =
        links == Links::refuse ? ::lstat(path.c_str(), &before) : ::stat(path.c_str(), &before);
    if (looked != 0 || !S_ISREG(before.st_mode)) {
        return std::nullopt;
    }
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (links == Links::refuse) {
        flags |= O_NOFOLLOW;
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<UniqueFd> file(std::in_place, fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    size = status.st_size;
    return file;
}

/// Reads up to `count` bytes from `offset`; fewer only at the end of the file.
bool readAt(int fd, off_t offset, std::size_t count, std::string& into) {
    into.resize(count);
    std::size_t got = 0;
    while (got < count) {
        const auto n =
            ::pread(fd, into.data() + got, count - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    into.resize(got);
    return true;
}

} // namespace

std::optional<Text> head(const std::filesystem::path& path, std::size_t maxBytes, Links links) {
    off_t size = 0;
    const auto file = openRegular(path, links, size);
    if (!file) {
        return std::nullopt;
    }
    // One byte past the bound tells a file of exactly `maxBytes` from a longer one, even when it
    // grew after the fstat.
    Text text;
    if (!readAt(file->get(), 0, maxBytes + 1, text.bytes)) {
        return std::nullopt;
    }
    if (text.bytes.size() > maxBytes) {
        text.bytes.resize(maxBytes);
        text.truncated = true;
    }
    return text;
}

std::optional<Text> tail(const std::filesystem::path& path, std::size_t maxBytes, Links links) {
    off_t size = 0;
    const auto file = openRegular(path, links, size);
    if (!file) {
        return std::nullopt;
    }
    const auto bound = static_cast<off_t>(maxBytes);
    const off_t start = size > bound ? size - bound : 0;
    Text text;
    if (!readAt(file->get(), start, maxBytes, text.bytes)) {
        return std::nullopt;
    }
    text.truncated = start > 0;
    return text;
}

std::optional<std::string> whole(const std::filesystem::path& path, std::size_t maxBytes,
                                 Links links) {
    auto text = head(path, maxBytes, links);
    if (!text || text->truncated) {
        return std::nullopt;
    }
    return std::move(text->bytes);
}

} // namespace nodwarden::BoundedFileRead
