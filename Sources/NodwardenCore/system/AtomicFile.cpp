#include <NodwardenCore/system/AtomicFile.hpp>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::AtomicFile {

void write(const std::filesystem::path& path, std::string_view contents,
           std::filesystem::perms mode) {
    const auto failure = [&](int error) {
        return std::filesystem::filesystem_error("cannot write file", path,
                                                 std::error_code(error, std::generic_category()));
    };
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    std::string temporary = path.string() + ".XXXXXX";
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor == -1) {
        throw failure(errno);
    }
    int error = 0;
    if (::fchmod(descriptor, static_cast<mode_t>(mode)) == -1) {
        error = errno;
    }
    for (std::size_t written = 0; written < contents.size() && error == 0;) {
        const ssize_t count =
            ::write(descriptor, contents.data() + written, contents.size() - written);
        if (count >= 0) {
            written += static_cast<std::size_t>(count);
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    if (error == 0 && ::fsync(descriptor) == -1) {
        error = errno;
    }
    if (::close(descriptor) == -1 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) == -1) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        throw failure(error);
    }
}

} // namespace nodwarden::AtomicFile
