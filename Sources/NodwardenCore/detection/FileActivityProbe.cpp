#include <NodwardenCore/detection/FileActivityProbe.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden {

std::vector<Date>
FileActivityProbing::modificationDates(const std::vector<std::string>& patterns) const {
    std::vector<Date> dates;
    for (const auto& [path, modified] : sessionModifications(patterns)) {
        dates.push_back(modified);
    }
    return dates;
}

std::map<std::string, Date>
FileActivityProbing::sessionModifications(const std::vector<std::string>&) const {
    return {};
}

std::map<std::string, Date>
FileActivityProbing::recentSessionModifications(const std::vector<std::string>& patterns, Date now,
                                                double window) const {
    return changedWithin(sessionModifications(patterns), now, window);
}

std::map<std::string, Date>
FileActivityProbing::changedWithin(const std::map<std::string, Date>& modifications, Date now,
                                   double window) {
    std::map<std::string, Date> recent;
    for (const auto& [path, modified] : modifications) {
        if (now - modified <= window) {
            recent.emplace_hint(recent.end(), path, modified);
        }
    }
    return recent;
}

namespace {

enum class SegmentKind { anyFolders, wildcard, literal };

struct Segment {
    std::string text;
    SegmentKind kind;
};

using Pattern = std::vector<Segment>;

Pattern preparePattern(std::string_view raw) {
    if (raw.starts_with("~/")) {
        raw.remove_prefix(2);
    } else if (raw.starts_with('/')) {
        raw.remove_prefix(1);
    }
    Pattern pattern;
    while (!raw.empty()) {
        const auto slash = raw.find('/');
        const auto piece = raw.substr(0, slash);
        if (!piece.empty()) {
            const auto kind = piece == "**"                   ? SegmentKind::anyFolders
                              : piece.find('*') != piece.npos ? SegmentKind::wildcard
                                                              : SegmentKind::literal;
            pattern.push_back({std::string(piece), kind});
        }
        if (slash == raw.npos) {
            break;
        }
        raw.remove_prefix(slash + 1);
    }
    return pattern;
}

/// How far one pattern has been matched on the way to a folder.
struct Position {
    std::uint32_t pattern;
    std::uint32_t segment;
    friend bool operator==(const Position&, const Position&) = default;
    // clang-tidy 14 reads the 0 a defaulted three-way comparison compares with as a null pointer.
    friend auto operator<=>(const Position&,
                            const Position&) = default; // NOLINT(modernize-use-nullptr)
};

/// Owns a folder descriptor, and the listing stream once the folder has been listed.
class OpenFolder {
public:
    explicit OpenFolder(int fd) : fd_(fd) {}
    ~OpenFolder() {
        if (stream_ != nullptr) {
            ::closedir(stream_); // also closes fd_
        } else if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    /// Starts listing; null when the folder cannot be read. The descriptor stays usable for
    /// the *at calls, which do not disturb the listing position.
    DIR* list() {
        if (stream_ == nullptr && fd_ >= 0) {
            stream_ = ::fdopendir(fd_);
        }
        return stream_;
    }

private:
    int fd_;
    DIR* stream_ = nullptr;
};

/// Opens a folder for listing; a folder that may be passed through but not read is still
/// opened for lookups below it, so literal names inside it resolve as a path would.
int openFolder(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0 || errno != EACCES) {
        return fd;
    }
#if defined(O_PATH)
    return ::openat(parentFd, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
#elif defined(O_SEARCH)
    return ::openat(parentFd, name, O_SEARCH | O_DIRECTORY | O_CLOEXEC);
#else
    return fd;
#endif
}

Date modificationDate(const struct stat& info) {
#if defined(__APPLE__)
    const auto& time = info.st_mtimespec;
#else
    const auto& time = info.st_mtim;
#endif
    return dateFromUnixTime(static_cast<double>(time.tv_sec) +
                            static_cast<double>(time.tv_nsec) / 1e9);
}

bool isKnownNonFolder(unsigned char type) {
#if defined(DT_UNKNOWN)
    return type != DT_UNKNOWN && type != DT_DIR && type != DT_LNK;
#else
    (void)type;
    return false;
#endif
}

/// Everything to do with one folder entry once the parent has been looked at.
struct ChildPlan {
    std::string name;
    unsigned char type;
    std::vector<Position> positions;
};

/// Only files and folders are matches: a FIFO, socket or device (or a link to one) named like a
/// session file is nobody's session, and whoever reads a match must never meet one.
bool isFileOrFolder(const struct stat& info) {
    return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
}

/// Reports the stat of a matched path: a listed type says whether it is a plain file, and an
/// unknown one is looked up without following a link first, which is the answer unless it is one.
bool statMatch(int folderFd, const char* name, unsigned char listedType, struct stat& info,
               bool& plainFile) {
#if defined(DT_UNKNOWN)
    if (listedType != DT_UNKNOWN) {
        plainFile = listedType == DT_REG;
        return ::fstatat(folderFd, name, &info, 0) == 0 && isFileOrFolder(info);
    }
#else
    (void)listedType;
#endif
    if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    plainFile = S_ISREG(info.st_mode);
    return (!S_ISLNK(info.st_mode) || ::fstatat(folderFd, name, &info, 0) == 0) &&
           isFileOrFolder(info);
}

/// Hands matches to a function; folders opened on the way are of no interest to it.
class MatchSink final : public FileWalkObserving {
public:
    explicit MatchSink(std::function<void(const std::string&, Date)> onMatch)
        : onMatch_(std::move(onMatch)) {}
    void folderOpened(const std::string&, const std::vector<std::string>&, bool) override {}
    void matched(const std::string& path, Date modified, bool) override {
        onMatch_(path, modified);
    }

private:
    std::function<void(const std::string&, Date)> onMatch_;
};

/// Walks all patterns together, so each folder on the way is opened and listed once however
/// many patterns (or "**" expansions) pass through it.
class Walker {
public:
    Walker(const std::vector<Pattern>& patterns, int maxDepth, FileWalkObserving& observer)
        : patterns_(patterns), maxDepth_(maxDepth), observer_(observer) {}

    void run(const std::filesystem::path& home) {
        if (maxDepth_ < 0 || patterns_.empty()) {
            return;
        }
        std::vector<Position> start;
        for (std::uint32_t index = 0; index < patterns_.size(); ++index) {
            start.push_back({index, 0});
        }
        expandDoubleStars(start);
        path_ = home.string();
        if (std::any_of(start.begin(), start.end(), [&](auto p) { return isComplete(p); })) {
            struct stat info {};
            bool plainFile = false;
            if (statMatch(AT_FDCWD, path_.c_str(), 0, info, plainFile)) {
                observer_.matched(path_, modificationDate(info), plainFile);
            }
        }
        dropComplete(start);
        if (start.empty()) {
            return;
        }
        OpenFolder folder(openFolder(AT_FDCWD, path_.c_str()));
        if (folder.isOpen()) {
            while (path_.size() > 1 && path_.back() == '/') {
                path_.pop_back();
            }
            visit(folder, start, 0);
        }
    }

private:
    const std::vector<Pattern>& patterns_;
    int maxDepth_;
    FileWalkObserving& observer_;
    std::string path_;

    bool isComplete(Position p) const { return p.segment >= patterns_[p.pattern].size(); }
    const Segment& head(Position p) const { return patterns_[p.pattern][p.segment]; }

    /// Adds, for every position at a "**", the position after it ("**" standing for no folder).
    void expandDoubleStars(std::vector<Position>& positions) const {
        for (std::size_t index = 0; index < positions.size(); ++index) {
            const auto p = positions[index];
            if (!isComplete(p) && head(p).kind == SegmentKind::anyFolders) {
                positions.push_back({p.pattern, p.segment + 1});
            }
        }
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    }

    void dropComplete(std::vector<Position>& positions) const {
        std::erase_if(positions, [&](auto p) { return isComplete(p); });
    }

    /// `positions` are closed and none is complete; `folder` sits at `depth`.
    void visit(OpenFolder& folder, const std::vector<Position>& positions, int depth) {
        if (depth + 1 > maxDepth_) {
            return;
        }
        std::vector<ChildPlan> children;
        std::unordered_map<std::string, std::size_t> indexByName;
        const auto planFor = [&](std::string_view name, unsigned char type) -> ChildPlan& {
            auto [it, inserted] = indexByName.try_emplace(std::string(name), children.size());
            if (inserted) {
                children.push_back({std::string(name), type, {}});
            } else if (type != 0) {
                children[it->second].type = type;
            }
            return children[it->second];
        };

        bool needsListing = false;
        std::vector<std::string> literalNames;
        for (const auto p : positions) {
            if (head(p).kind == SegmentKind::literal) {
                planFor(head(p).text, 0).positions.push_back({p.pattern, p.segment + 1});
                literalNames.push_back(head(p).text);
            } else {
                needsListing = true;
            }
        }
        observer_.folderOpened(path_, literalNames, needsListing);
        observer_.folderPatterns(path_, rest(positions), depth);
        if (needsListing) {
            if (DIR* stream = folder.list()) {
                while (const dirent* entry = ::readdir(stream)) {
                    const std::string_view name = entry->d_name;
                    if (name == "." || name == "..") {
                        continue;
                    }
                    matchEntry(folder, positions, name, entry->d_type, planFor);
                }
            }
            if (observer_.entersOnlyNewestDatedFolders()) {
                passOldDatedFolders(children);
            }
        }

        for (auto& child : children) {
            enter(folder, child, depth + 1);
        }
    }

    /// Each position's remaining segments, joined with "/".
    std::vector<std::string> rest(const std::vector<Position>& positions) const {
        std::vector<std::string> patterns;
        for (const auto p : positions) {
            std::string joinedRest;
            for (auto index = p.segment; index < patterns_[p.pattern].size(); ++index) {
                joinedRest += (joinedRest.empty() ? "" : "/") + patterns_[p.pattern][index].text;
            }
            patterns.push_back(std::move(joinedRest));
        }
        return patterns;
    }

    /// Leaves out all but the two greatest listed folders named only with digits.
    static void passOldDatedFolders(std::vector<ChildPlan>& children) {
        std::vector<ChildPlan*> dated;
        for (auto& child : children) {
            if (child.type == DT_DIR && isDatedFolderName(child.name)) {
                dated.push_back(&child);
            }
        }
        if (dated.size() <= 2) {
            return;
        }
        // Equal lengths compare as numbers; a longer run of digits is the greater number.
        std::sort(dated.begin(), dated.end(), [](const ChildPlan* lhs, const ChildPlan* rhs) {
            return std::pair(lhs->name.size(), std::string_view(lhs->name)) >
                   std::pair(rhs->name.size(), std::string_view(rhs->name));
        });
        for (auto it = dated.begin() + 2; it != dated.end(); ++it) {
            (*it)->positions.clear();
        }
    }

    template <typename PlanFor>
    void matchEntry(const OpenFolder& folder, const std::vector<Position>& positions,
                    std::string_view name, unsigned char type, PlanFor& planFor) {
        ChildPlan* plan = nullptr;
        std::string nameText;
        int isRealFolder = -1; // unknown until a "**" asks
        for (const auto p : positions) {
            const auto& segment = head(p);
            if (segment.kind == SegmentKind::wildcard) {
                if (nameText.empty()) {
                    nameText = name;
                }
                if (::fnmatch(segment.text.c_str(), nameText.c_str(), 0) == 0) {
                    if (plan == nullptr) {
                        plan = &planFor(name, type);
                    }
                    plan->positions.push_back({p.pattern, p.segment + 1});
                }
            } else if (segment.kind == SegmentKind::anyFolders) {
                if (isRealFolder < 0) {
                    isRealFolder = isFolderEntry(folder, name, type) ? 1 : 0;
                }
                if (isRealFolder == 1) {
                    if (plan == nullptr) {
                        plan = &planFor(name, type);
                    }
                    plan->positions.push_back(p);
                }
            }
        }
    }

    /// A "**" descends only into real folders, never through symbolic links, so a link loop
    /// cannot make it walk forever.
    static bool isFolderEntry(const OpenFolder& folder, std::string_view name, unsigned char type) {
#if defined(DT_UNKNOWN)
        if (type != DT_UNKNOWN) {
            return type == DT_DIR;
        }
#else
        (void)type;
#endif
        struct stat info {};
        const std::string nameText(name);
        return ::fstatat(folder.fd(), nameText.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(info.st_mode);
    }

    void enter(const OpenFolder& parent, ChildPlan& child, int depth) {
        expandDoubleStars(child.positions);
        const auto sizeBefore = path_.size();
        if (path_.empty() || path_.back() != '/') {
            path_ += '/';
        }
        path_ += child.name;

        const bool complete = std::any_of(child.positions.begin(), child.positions.end(),
                                          [&](auto p) { return isComplete(p); });
        if (complete) {
            struct stat info {};
            bool plainFile = false;
            if (statMatch(parent.fd(), child.name.c_str(), child.type, info, plainFile)) {
                observer_.matched(path_, modificationDate(info), plainFile);
            }
        }
        dropComplete(child.positions);
        if (!child.positions.empty() && !isKnownNonFolder(child.type)) {
            OpenFolder folder(openFolder(parent.fd(), child.name.c_str()));
            if (folder.isOpen()) {
                visit(folder, child.positions, depth);
            } else if (struct stat info{}; ::fstatat(parent.fd(), child.name.c_str(), &info,
                                                     AT_SYMLINK_NOFOLLOW) == 0 &&
                                           S_ISLNK(info.st_mode)) {
                observer_.brokenLink(path_);
            }
        }
        path_.resize(sizeBefore);
    }
};

} // namespace

bool isDatedFolderName(std::string_view name) {
    return !name.empty() && name.size() <= 8 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

FileActivityProbe::FileActivityProbe(std::filesystem::path home_, int maxDepth_)
    : home(std::move(home_)), maxDepth(maxDepth_) {}

void FileActivityProbe::walk(const std::vector<std::string>& rawPatterns,
                             FileWalkObserving& observer) const {
    std::vector<Pattern> patterns;
    patterns.reserve(rawPatterns.size());
    for (const auto& raw : rawPatterns) {
        patterns.push_back(preparePattern(raw));
    }
    Walker(patterns, maxDepth, observer).run(home);
}

std::optional<Date>
FileActivityProbe::newestModification(const std::vector<std::string>& patterns) const {
    std::optional<Date> newest;
    MatchSink sink([&](const std::string&, Date modified) {
        if (!newest || modified > *newest) {
            newest = modified;
        }
    });
    walk(patterns, sink);
    return newest;
}

std::map<std::string, Date>
FileActivityProbe::sessionModifications(const std::vector<std::string>& patterns) const {
    std::map<std::string, Date> found;
    MatchSink sink([&](const std::string& path, Date modified) { found.emplace(path, modified); });
    walk(patterns, sink);
    return found;
}

} // namespace nodwarden
