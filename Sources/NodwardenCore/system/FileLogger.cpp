#include <NodwardenCore/system/FileLogger.hpp>

#include <NodwardenCore/system/PlatformPaths.hpp>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden {

namespace {

int openForAppending(const std::filesystem::path& location) {
    // O_APPEND makes each write land whole at the end, even if another process appends too.
    return ::open(location.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

std::filesystem::path numbered(const std::filesystem::path& location, int number) {
    return location.string() + "." + std::to_string(number);
}

/// "<name>.<n>" becomes "<name>.<n+1>", the oldest dropped, and the file itself "<name>.1".
void moveDown(const std::filesystem::path& location, int keptFiles) {
    for (int number = keptFiles - 1; number >= 1; --number) {
        ::rename(numbered(location, number).c_str(), numbered(location, number + 1).c_str());
    }
    ::rename(location.c_str(), numbered(location, 1).c_str());
}

/// An open, locked descriptor of the file now at `location`, rotated first when `line` would take
/// it past the bound; -1 when it cannot be opened. Whatever fails in rotating, the line is still
/// written: a file a little too long is better than a lost line.
int openRotated(const std::filesystem::path& location, std::size_t lineBytes,
                const PlatformPaths::LogRotation& rotation) {
    int fd = openForAppending(location);
    // A few rounds at most: each one follows a rotation made by another process meanwhile.
    for (int round = 0; fd >= 0 && round < 4; ++round) {
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat opened {};
        struct stat current {};
        if (::fstat(fd, &opened) != 0) {
            return fd;
        }
        if (::stat(location.c_str(), &current) != 0 || current.st_ino != opened.st_ino ||
            current.st_dev != opened.st_dev) {
            // Rotated away by another process while we waited: write to the file there now.
            ::close(fd);
            fd = openForAppending(location);
            continue;
        }
        const auto size = static_cast<std::uintmax_t>(opened.st_size);
        if (size == 0 || size + lineBytes <= rotation.maxBytes) {
            return fd;
        }
        moveDown(location, rotation.keptFiles);
        // Still locked: another process that opened the old file finds it moved once it gets the
        // lock, and follows the name.
        const int fresh = openForAppending(location);
        ::close(fd);
        fd = fresh;
    }
    return fd;
}

// Any failure drops this line silently; the next line starts afresh.
void appendLine(const std::filesystem::path& location, const std::string& line,
                const PlatformPaths::LogRotation& rotation) {
    std::error_code error;
    if (location.has_parent_path()) {
        std::filesystem::create_directories(location.parent_path(), error);
        if (error) {
            return;
        }
    }
    const int fd = rotation.maxBytes > 0 && rotation.keptFiles > 0
                       ? openRotated(location, line.size(), rotation)
                       : openForAppending(location);
    if (fd < 0) {
        return;
    }
    const char* cursor = line.data();
    std::size_t remaining = line.size();
    while (remaining > 0) {
        const ssize_t written = ::write(fd, cursor, remaining);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        cursor += written;
        remaining -= static_cast<std::size_t>(written);
    }
    // Closing releases the lock.
    ::close(fd);
}

} // namespace

FileLogger::FileLogger()
    : FileLogger(PlatformPaths::diagnosticLogPath(), PlatformPaths::diagnosticLogRotation()) {}

FileLogger::FileLogger(std::filesystem::path logPath, PlatformPaths::LogRotation rotation)
    : logPath_(std::move(logPath)), rotation_(rotation), queue_("Nodwarden.FileLogger") {}

FileLogger::~FileLogger() {
    queue_.drain();
}

FileLogger& FileLogger::shared() {
    // A static object (not a leaked one) so lines still queued at exit reach the file.
    static FileLogger instance;
    return instance;
}

void FileLogger::log(const std::string& message) {
    auto line = formatLine(std::chrono::system_clock::now(), message);
    queue_.async([location = logPath_, rotation = rotation_, line = std::move(line)] {
        appendLine(location, line, rotation);
    });
}

void FileLogger::flush() {
    queue_.drain();
}

std::string FileLogger::formatLine(std::chrono::system_clock::time_point time,
                                   const std::string& message) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    const std::time_t stamp = std::chrono::system_clock::to_time_t(seconds);
    std::tm utc{};
    char text[32] = "";
    if (::gmtime_r(&stamp, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        text[0] = '\0';
    }
    std::string line;
    line.reserve(message.size() + 24);
    line += '[';
    line += text;
    line += "] ";
    line += message;
    line += '\n';
    return line;
}

} // namespace nodwarden
