#include <NodwardenLinux/SysfsText.hpp>

#include <NodwardenCore/system/AsciiText.hpp>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace nodwarden::linuxplatform {

std::optional<std::string> readTrimmedFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return std::string(AsciiText::trimmed(buffer.str(), " \t\r\n"));
}

std::optional<long long> readIntegerFile(const std::filesystem::path& path) {
    const auto text = readTrimmedFile(path);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text->c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::filesystem::path underRoot(const std::filesystem::path& root,
                                const std::filesystem::path& path) {
    return root / path.relative_path();
}

} // namespace nodwarden::linuxplatform
