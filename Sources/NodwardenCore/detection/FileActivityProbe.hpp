#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Reads the modification times of files below the home folder that match path patterns.
///
/// A pattern is relative to the home folder ("~/" or a leading "/" is dropped) and split at "/":
/// a "**" segment stands for any number of folder levels (including none), a segment containing
/// "*" is matched against folder entries with the shell's file-name rules, any other segment is a
/// literal name. Only regular files and folders (or links to them) match: never a FIFO, a socket
/// or a device.
class FileActivityProbing {
public:
    virtual ~FileActivityProbing() = default;

    /// The latest modification time of any file or folder matching any of `patterns`.
    virtual std::optional<Date>
    newestModification(const std::vector<std::string>& patterns) const = 0;

    /// The modification times of all matching paths, in no particular order; by default those of
    /// `sessionModifications`.
    virtual std::vector<Date> modificationDates(const std::vector<std::string>& patterns) const;

    /// Every matching path (absolute, each recorded once) with its modification time.
    virtual std::map<std::string, Date>
    sessionModifications(const std::vector<std::string>& patterns) const;

    /// The matching paths changed at most `window` seconds before `now` (a future time counts as
    /// now); by default picked from `sessionModifications`.
    virtual std::map<std::string, Date>
    recentSessionModifications(const std::vector<std::string>& patterns, Date now,
                               double window) const;

protected:
    /// The entries of `modifications` changed at most `window` seconds before `now`.
    static std::map<std::string, Date>
    changedWithin(const std::map<std::string, Date>& modifications, Date now, double window);
};

/// What a walk reports, for a prober that keeps the result and watches folders for changes
/// instead of walking again.
class FileWalkObserving {
public:
    virtual ~FileWalkObserving() = default;

    /// `folder` is about to be looked into. Only entries named in `names` can change the walk's
    /// result, or any entry when `anyName`.
    virtual void folderOpened(const std::string& folder, const std::vector<std::string>& names,
                              bool anyName) = 0;

    /// A matched path. `plainFile` when the entry itself is a regular file (not a folder, not a
    /// symbolic link), so that its changes are events of the folder it is listed in.
    virtual void matched(const std::string& path, Date modified, bool plainFile) = 0;

    /// What is left of the patterns in `folder` (just opened, `depth` path components below the
    /// walk's root), each relative to it: so that a single entry appearing there can be judged,
    /// or a new folder walked alone, without walking everything again.
    virtual void folderPatterns(const std::string& folder, const std::vector<std::string>& rest,
                                int depth) {
        (void)folder;
        (void)rest;
        (void)depth;
    }

    /// Whether, among the folders of one listing named only with digits (a year, a month, a day),
    /// only the two greatest are entered: new files appear in the current date's folder and
    /// yesterday's may still be written, but older dated folders hold only history.
    virtual bool entersOnlyNewestDatedFolders() const { return false; }

    /// The walk had to go on through `path`, a symbolic link whose target is missing or no
    /// folder; the target appearing is no change to any folder the walk opened.
    virtual void brokenLink(const std::string& path) { (void)path; }
};

/// Whether a folder's name is a date's part (a year, a month, a day): digits only.
bool isDatedFolderName(std::string_view name);

/// The real prober: walks the file system below `home`, never deeper than `maxDepth` path
/// components. Folders are listed once per visit and only matched entries are stat'ed.
struct FileActivityProbe final : FileActivityProbing {
    FileActivityProbe(std::filesystem::path home, int maxDepth);

    /// The folder every pattern is relative to.
    std::filesystem::path home;
    /// The greatest number of path components below `home` a matched path may have.
    int maxDepth;

    std::optional<Date> newestModification(const std::vector<std::string>& patterns) const override;
    std::map<std::string, Date>
    sessionModifications(const std::vector<std::string>& patterns) const override;

    /// One walk for `patterns`, reported to `observer` as it goes.
    void walk(const std::vector<std::string>& patterns, FileWalkObserving& observer) const;

    friend bool operator==(const FileActivityProbe& lhs, const FileActivityProbe& rhs) {
        return lhs.home == rhs.home && lhs.maxDepth == rhs.maxDepth;
    }
};

} // namespace nodwarden
