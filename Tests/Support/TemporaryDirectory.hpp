#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace stayloom::testing {

/// A fresh folder under `parent` (the system temporary folder unless said), removed with
/// everything in it on destruction.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(
        const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

    /// Writes `contents` to `relative` below the folder, creating parent folders.
    std::filesystem::path write(const std::string& relative, const std::string& contents) const;

private:
    std::filesystem::path path_;
};

/// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

/// The lines of `text`, without their ends.
std::vector<std::string> linesOf(const std::string& text);

/// Path of a file under Tests/Fixtures.
std::filesystem::path fixturePath(const std::string& relative);

} // namespace stayloom::testing
