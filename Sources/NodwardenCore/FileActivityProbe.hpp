#pragma once

#include <NodwardenCore/Date.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden {

/// Reads the modification times of files below the home folder that match path patterns.
///
/// A pattern is relative to the home folder ("~/" or a leading "/" is dropped) and split at "/":
/// a "**" segment stands for any number of folder levels (including none), a segment containing
/// "*" is matched against folder entries with the shell's file-name rules, any other segment is a
/// literal name.
class FileActivityProbing {
public:
    virtual ~FileActivityProbing() = default;

    /// The latest modification time of any file or folder matching any of `patterns`.
    virtual std::optional<Date>
    newestModification(const std::vector<std::string>& patterns) const = 0;

    /// The modification times of all matching paths, in no particular order.
    virtual std::vector<Date> modificationDates(const std::vector<std::string>& patterns) const;

    /// Every matching path (absolute, each recorded once) with its modification time.
    virtual std::map<std::string, Date>
    sessionModifications(const std::vector<std::string>& patterns) const;
};

/// The real prober: walks the file system below `home`, never deeper than `maxDepth` path
/// components. Folders are listed once per visit and only matched entries are stat'ed.
struct FileActivityProbe final : FileActivityProbing {
    FileActivityProbe(std::filesystem::path home, int maxDepth);

    /// The folder every pattern is relative to.
    std::filesystem::path home;
    /// The greatest number of path components below `home` a matched path may have.
    int maxDepth;

    std::optional<Date> newestModification(const std::vector<std::string>& patterns) const override;
    std::vector<Date> modificationDates(const std::vector<std::string>& patterns) const override;
    std::map<std::string, Date>
    sessionModifications(const std::vector<std::string>& patterns) const override;

    friend bool operator==(const FileActivityProbe& lhs, const FileActivityProbe& rhs) {
        return lhs.home == rhs.home && lhs.maxDepth == rhs.maxDepth;
    }
};

} // namespace nodwarden
