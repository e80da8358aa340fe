#include <NodwardenLinux/InotifyFileActivityProbe.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::linuxplatform {

namespace {

/// Every change to a watched folder's entries or to the folder itself. IN_CLOSE_WRITE is left
/// out: closing a file does not change its modification time.
constexpr std::uint32_t watchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                        IN_ONLYDIR;
constexpr std::uint32_t entryListChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t folderGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

/// A pattern set not asked about for this long has been dropped by its agent's settings.
constexpr auto forgetAfter = std::chrono::minutes(10);

/// Joins the way the walker does, so that event paths and matched paths compare equal.
std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() != '/' ? folder + '/' + name : folder + name;
}

/// None also when the path is no longer a file or folder (a link retargeted at a FIFO or a
/// device), so the walk, which leaves such paths out, is made again.
std::optional<Date> modificationOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
        return std::nullopt;
    }
    return dateFromUnixTime(static_cast<double>(info.st_mtim.tv_sec) +
                            static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
}

} // namespace

/// Adds a watch to each folder as the walk opens it, before it is listed, so a change made while
/// the walk is under way is still heard of.
class InotifyFileActivityProbe::WalkRecorder final : public FileWalkObserving {
public:
    WalkRecorder(int inotifyFd, Query& query) : inotifyFd_(inotifyFd), query_(query) {}

    void folderOpened(const std::string& folder, const std::vector<std::string>& names,
                      bool anyName) override {
        const int watch =
            inotifyFd_ < 0 ? -1 : ::inotify_add_watch(inotifyFd_, folder.c_str(), watchedEvents);
        if (watch < 0) {
            unwatchable = true;
            return;
        }
        interests.emplace_back(
            watch,
            Interest{&query_, folder, std::set<std::string>(names.begin(), names.end()), anyName});
    }

    void matched(const std::string& path, Date modified, bool plainFile) override {
        found.emplace(path, modified);
        if (!plainFile) {
            unwatched.push_back(path);
        }
    }

    void brokenLink(const std::string&) override { unwatchable = true; }

    std::vector<std::pair<int, Interest>> interests;
    std::map<std::string, Date> found;
    std::vector<std::string> unwatched;
    bool unwatchable = false;

private:
    int inotifyFd_;
    Query& query_;
};

InotifyFileActivityProbe::InotifyFileActivityProbe(std::filesystem::path home, int maxDepth,
                                                   Clock::duration refreshInterval)
    : walker_(std::move(home), maxDepth), refreshInterval_(refreshInterval),
      inotifyFd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

InotifyFileActivityProbe::~InotifyFileActivityProbe() {
    if (inotifyFd_ >= 0) {
        ::close(inotifyFd_);
    }
}

bool InotifyFileActivityProbe::isWatching() const {
    return inotifyFd_ >= 0;
}

std::size_t InotifyFileActivityProbe::walkCount() const {
    const std::lock_guard lock(mutex_);
    return walkCount_;
}

std::optional<Date>
InotifyFileActivityProbe::newestModification(const std::vector<std::string>& patterns) const {
    const std::lock_guard lock(mutex_);
    std::optional<Date> newest;
    for (const auto& [path, modified] : currentResult(patterns)) {
        if (!newest || modified > *newest) {
            newest = modified;
        }
    }
    return newest;
}

std::map<std::string, Date>
InotifyFileActivityProbe::sessionModifications(const std::vector<std::string>& patterns) const {
    const std::lock_guard lock(mutex_);
    return currentResult(patterns);
}

std::map<std::string, Date>
InotifyFileActivityProbe::recentSessionModifications(const std::vector<std::string>& patterns,
                                                     Date now, double window) const {
    const std::lock_guard lock(mutex_);
    return changedWithin(currentResult(patterns), now, window);
}

const std::map<std::string, Date>&
InotifyFileActivityProbe::currentResult(const std::vector<std::string>& patterns) const {
    const auto now = Clock::now();
    readEvents();
    forgetUnaskedQueries(now);
    auto& query = queries_[patterns];
    query.askedAt = now;
    const bool due = now - query.walkedAt >= refreshInterval_;
    if (query.stale || query.unwatchable || due || !restat(query)) {
        rewalk(query, patterns);
    }
    return query.found;
}

void InotifyFileActivityProbe::readEvents() const {
    if (inotifyFd_ < 0) {
        return;
    }
    alignas(inotify_event) std::array<char, 16 * 1024> buffer{};
    for (;;) {
        const auto length = ::read(inotifyFd_, buffer.data(), buffer.size());
        if (length <= 0) {
            if (length < 0 && errno == EINTR) {
                continue;
            }
            return; // EAGAIN: nothing more queued
        }
        for (std::size_t offset = 0; offset + sizeof(inotify_event) <= std::size_t(length);) {
            inotify_event header{};
            std::memcpy(&header, buffer.data() + offset, sizeof header);
            const char* name = buffer.data() + offset + sizeof header;
            // The name is padded with NULs to the record's length.
            const std::string entry(name, ::strnlen(name, header.len));
            handleEvent(header.wd, header.mask, entry);
            offset += sizeof header + header.len;
        }
    }
}

void InotifyFileActivityProbe::handleEvent(int watch, std::uint32_t mask,
                                           const std::string& name) const {
    if (mask & IN_Q_OVERFLOW) {
        for (auto& [patterns, query] : queries_) {
            query.stale = true;
        }
        return;
    }
    const auto interests = interestsByWatch_.find(watch);
    if (interests == interestsByWatch_.end()) {
        return;
    }
    for (auto& interest : interests->second) {
        auto& query = *interest.query;
        const bool relevant = interest.anyName || interest.names.contains(name);
        if ((mask & folderGone) || name.empty()) {
            query.stale = true;
        } else if (mask & entryListChanges) {
            query.stale = query.stale || relevant;
        } else if (const auto path = joined(interest.folder, name); query.found.contains(path)) {
            query.dirty.insert(path);
        } else if ((mask & IN_ATTRIB) && relevant) {
            // A folder's permissions changed: what the walk could read may have changed too.
            query.stale = true;
        }
    }
    if (mask & IN_IGNORED) {
        interestsByWatch_.erase(interests);
    }
}

bool InotifyFileActivityProbe::restat(Query& query) const {
    for (const auto& path : query.dirty) {
        const auto modified = modificationOf(path);
        if (!modified) {
            return false;
        }
        query.found[path] = *modified;
    }
    query.dirty.clear();
    for (const auto& path : query.unwatched) {
        const auto modified = modificationOf(path);
        if (!modified) {
            return false;
        }
        query.found[path] = *modified;
    }
    return true;
}

void InotifyFileActivityProbe::rewalk(Query& query,
                                      const std::vector<std::string>& patterns) const {
    WalkRecorder recorder(inotifyFd_, query);
    const auto startedAt = Clock::now();
    walker_.walk(patterns, recorder);
    ++walkCount_;
    // The new watches were added before the old ones go: a folder watched by both keeps its
    // watch (the kernel hands out the same one again) and is never unwatched in between.
    std::set<int> kept;
    for (const auto& [watch, interest] : recorder.interests) {
        kept.insert(watch);
    }
    detach(query, kept);
    for (auto& [watch, interest] : recorder.interests) {
        interestsByWatch_[watch].push_back(std::move(interest));
        query.watches.push_back(watch);
    }
    query.found = std::move(recorder.found);
    query.unwatched = std::move(recorder.unwatched);
    query.dirty.clear();
    query.stale = false;
    query.unwatchable = recorder.unwatchable;
    query.walkedAt = startedAt;
}

void InotifyFileActivityProbe::detach(Query& query, const std::set<int>& kept) const {
    for (const int watch : query.watches) {
        const auto interests = interestsByWatch_.find(watch);
        if (interests == interestsByWatch_.end()) {
            continue;
        }
        std::erase_if(interests->second,
                      [&](const Interest& interest) { return interest.query == &query; });
        if (interests->second.empty() && !kept.contains(watch)) {
            interestsByWatch_.erase(interests);
            ::inotify_rm_watch(inotifyFd_, watch);
        }
    }
    query.watches.clear();
}

void InotifyFileActivityProbe::forgetUnaskedQueries(Clock::time_point now) const {
    for (auto it = queries_.begin(); it != queries_.end();) {
        if (now - it->second.askedAt > forgetAfter) {
            detach(it->second, {});
            it = queries_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace nodwarden::linuxplatform
