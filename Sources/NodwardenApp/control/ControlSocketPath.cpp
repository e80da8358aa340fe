#include <NodwardenApp/control/ControlSocketPath.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/un.h>

namespace nodwarden::app::ControlSocketPath {

namespace {

constexpr char socketName[] = "Stayloom.socket";

/// FNV-1a: the same name for the same folder in every build, unlike `std::hash`.
std::uint64_t stableHash(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char byte : text) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string hexadecimal(std::uint64_t value) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (auto index = text.size(); index-- > 0; value >>= 4) {
        text[index] = digits[value & 0xf];
    }
    return text;
}

bool fits(const std::filesystem::path& path) {
    return path.native().size() <= maxLength();
}

} // namespace

std::size_t maxLength() {
    return sizeof(sockaddr_un::sun_path) - 1;
}

std::optional<std::filesystem::path>
forLockFolder(const std::filesystem::path& lockFolder,
              const std::optional<std::filesystem::path>& runtimeFolder) {
    if (auto beside = lockFolder / socketName; fits(beside)) {
        return beside;
    }
    if (!runtimeFolder) {
        return std::nullopt;
    }
    auto moved =
        *runtimeFolder / ("stayloom-" + hexadecimal(stableHash(lockFolder.native())) + ".socket");
    if (!fits(moved)) {
        return std::nullopt;
    }
    return moved;
}

std::optional<std::filesystem::path> runtimeFolderFromEnvironment() {
    const char* value = std::getenv("XDG_RUNTIME_DIR");
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

} // namespace nodwarden::app::ControlSocketPath
