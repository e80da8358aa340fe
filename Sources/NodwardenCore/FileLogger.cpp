#include <NodwardenCore/FileLogger.hpp>

#include <NodwardenCore/PlatformPaths.hpp>

#include <cerrno>
#include <ctime>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace nodwarden {

namespace {

// Any failure drops this line silently; the next line starts afresh.
void appendLine(const std::filesystem::path& location, const std::string& line) {
    std::error_code error;
    if (location.has_parent_path()) {
        std::filesystem::create_directories(location.parent_path(), error);
        if (error) {
            return;
        }
    }
    // O_APPEND makes each write land whole at the end, even if another process appends too.
    const int fd = ::open(location.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
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
    ::close(fd);
}

} // namespace

FileLogger::FileLogger() : FileLogger(PlatformPaths::diagnosticLogPath()) {}

FileLogger::FileLogger(std::filesystem::path logPath)
    : logPath_(std::move(logPath)), queue_("Nodwarden.FileLogger") {}

FileLogger::~FileLogger() {
    queue_.drain();
}

FileLogger& FileLogger::shared() {
    // A static object (not a leaked one) so lines still queued at exit reach the file.
    static FileLogger instance;
    return instance;
}

void FileLogger::log(std::string message) {
    auto line = formatLine(std::chrono::system_clock::now(), message);
    queue_.async([location = logPath_, line = std::move(line)] { appendLine(location, line); });
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
