#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace nodwarden::linuxplatform {

/// The whole file with white space trimmed at both ends; absent when it cannot be read.
std::optional<std::string> readTrimmedFile(const std::filesystem::path& path);

/// The file as a decimal integer; absent when unreadable or not wholly a number.
std::optional<long long> readIntegerFile(const std::filesystem::path& path);

/// `path` re-rooted below `root` ("/" leaves it unchanged), so readers run on fixture trees.
std::filesystem::path underRoot(const std::filesystem::path& root,
                                const std::filesystem::path& path);

} // namespace nodwarden::linuxplatform
