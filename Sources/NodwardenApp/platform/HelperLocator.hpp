#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace nodwarden::app {

/// Names of the helper programs the Linux layer starts.
namespace HelperNames {
inline constexpr std::string_view keepAwake = "stayloom-inhibit";
inline constexpr std::string_view sleepSwitch = "stayloom-sleep-switch";
} // namespace HelperNames

/// The folders where the helper programs may live, in the order they are tried.
struct HelperSearchPath {
    std::vector<std::filesystem::path> folders;

    /// Next to the program (`<bin>/../libexec/stayloom`), then the build tree (not in builds for
    /// packaging), then the install prefix. The program's own folder comes first so an installed
    /// copy never picks up helpers of a different build.
    static HelperSearchPath standard(const std::filesystem::path& executablePath);

    /// The first folder holding an executable regular file `name`; none when no folder has one.
    std::optional<std::filesystem::path> locate(std::string_view name) const;
    /// `locate`, else where the first folder would hold it, so a launch fails with a path the
    /// log can name.
    std::filesystem::path locateOrFirstCandidate(std::string_view name) const;
};

/// The running program's own path, from /proc/self/exe; empty when it cannot be read.
std::filesystem::path currentExecutablePath();

/// The folder of the program's own shared library (the code of this file), where the modules the
/// program loads live beside it: the build folder, or the package's private library folder.
/// Empty when the loader cannot tell.
std::filesystem::path programLibraryFolder();

} // namespace nodwarden::app
