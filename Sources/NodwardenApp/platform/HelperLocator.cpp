#include <NodwardenApp/platform/HelperLocator.hpp>

#include <NodwardenApp/BuildInfo.hpp>

#include <dlfcn.h>
#include <unistd.h>

#include <system_error>

namespace nodwarden::app {

namespace {

const std::filesystem::path helpersSubfolder = std::filesystem::path("libexec") / "stayloom";

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

HelperSearchPath HelperSearchPath::standard(const std::filesystem::path& executablePath) {
    HelperSearchPath search;
    if (!executablePath.empty()) {
        search.folders.push_back(executablePath.parent_path().parent_path() / helpersSubfolder);
    }
    if (*BuildInfo::buildHelpersDir != '\0') {
        search.folders.emplace_back(BuildInfo::buildHelpersDir);
    }
    search.folders.push_back(std::filesystem::path(BuildInfo::installPrefix) / helpersSubfolder);
    return search;
}

std::optional<std::filesystem::path> HelperSearchPath::locate(std::string_view name) const {
    for (const auto& folder : folders) {
        const auto candidate = folder / name;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::filesystem::path HelperSearchPath::locateOrFirstCandidate(std::string_view name) const {
    if (auto found = locate(name)) {
        return *found;
    }
    return folders.empty() ? std::filesystem::path(name) : folders.front() / name;
}

std::filesystem::path currentExecutablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::filesystem::path programLibraryFolder() {
    // Any address inside this library names it.
    static const char anchor = 0;
    Dl_info info{};
    if (::dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    return std::filesystem::path(info.dli_fname).parent_path();
}

} // namespace nodwarden::app
