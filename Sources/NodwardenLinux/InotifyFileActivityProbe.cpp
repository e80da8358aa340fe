#include <NodwardenLinux/InotifyFileActivityProbe.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <queue>
#include <string_view>
#include <utility>

#include <fnmatch.h>
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
constexpr std::uint32_t entryAdded = IN_CREATE | IN_MOVED_TO;
constexpr std::uint32_t entryRemoved = IN_DELETE | IN_MOVED_FROM;
constexpr std::uint32_t folderGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

/// A pattern set not asked about for this long has been dropped by its agent's settings.
constexpr auto forgetAfter = std::chrono::minutes(10);
/// How often matches that grew old are let go.
constexpr auto historyCheckInterval = std::chrono::minutes(1);

/// Joins the way the walker does, so that event paths and matched paths compare equal.
std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() != '/' ? folder + '/' + name : folder + name;
}

Date dateOf(const timespec& time) {
    return dateFromUnixTime(static_cast<double>(time.tv_sec) +
                            static_cast<double>(time.tv_nsec) / 1e9);
}

Date currentDate() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return dateOf(now);
}

/// None also when the path is no longer a file or folder (a link retargeted at a FIFO or a
/// device), so the walk, which leaves such paths out, is made again.
std::optional<Date> modificationOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
        return std::nullopt;
    }
    return dateOf(info.st_mtim);
}

/// Whether one pattern segment selects `name`, as the walker matches it.
bool segmentMatches(std::string_view segment, const std::string& name) {
    return segment.find('*') == std::string_view::npos
               ? segment == name
               : ::fnmatch(std::string(segment).c_str(), name.c_str(), 0) == 0;
}

/// Whether an entry named `name` in a folder whose patterns are `rest` is a match itself.
bool endsWith(const std::vector<std::string>& rest, const std::string& name) {
    return std::any_of(rest.begin(), rest.end(), [&](const std::string& pattern) {
        return pattern.find('/') == std::string::npos && pattern != "**" &&
               segmentMatches(pattern, name);
    });
}

/// The patterns a real folder named `name` gets from a folder whose patterns are `rest`.
std::vector<std::string> patternsBelow(const std::vector<std::string>& rest,
                                       const std::string& name) {
    std::vector<std::string> below;
    for (const auto& pattern : rest) {
        const auto slash = pattern.find('/');
        if (slash == std::string::npos) {
            continue;
        }
        const std::string_view head(pattern.data(), slash);
        if (head == "**") {
            below.push_back(pattern);
        } else if (segmentMatches(head, name)) {
            below.push_back(pattern.substr(slash + 1));
        }
    }
    return below;
}

/// Whether a walk would go on through an entry named `name` that is not a real folder (it may
/// be a link to one): "**" never follows links, named segments do.
bool passesThrough(const std::vector<std::string>& rest, const std::string& name) {
    return std::any_of(rest.begin(), rest.end(), [&](const std::string& pattern) {
        const auto slash = pattern.find('/');
        return slash != std::string::npos && pattern.compare(0, slash, "**") != 0 &&
               segmentMatches(std::string_view(pattern.data(), slash), name);
    });
}

} // namespace

/// Adds a watch to each folder as the walk opens it, before it is listed, so a change made while
/// the walk is under way is still heard of. Keeps the matches the prober keeps.
class InotifyFileActivityProbe::WalkRecorder final : public FileWalkObserving {
public:
    WalkRecorder(int inotifyFd, Query& query, int depthOffset, std::optional<Date> keepSince)
        : inotifyFd_(inotifyFd), query_(query), depthOffset_(depthOffset), keepSince_(keepSince) {}

    void folderOpened(const std::string& folder, const std::vector<std::string>& names,
                      bool anyName) override {
        const int watch =
            inotifyFd_ < 0 ? -1 : ::inotify_add_watch(inotifyFd_, folder.c_str(), watchedEvents);
        lastWatched_ = watch >= 0;
        if (!lastWatched_) {
            unwatchable = true;
            return;
        }
        interests.emplace_back(watch, Interest{&query_,
                                               folder,
                                               std::set<std::string>(names.begin(), names.end()),
                                               anyName,
                                               {},
                                               0});
    }

    void folderPatterns(const std::string& folder, const std::vector<std::string>& rest,
                        int depth) override {
        if (lastWatched_ && interests.back().second.folder == folder) {
            interests.back().second.rest = rest;
            interests.back().second.depth = depth + depthOffset_;
        }
    }

    bool entersOnlyNewestDatedFolders() const override { return true; }

    void matched(const std::string& path, Date modified, bool plainFile) override {
        if (!plainFile) {
            unwatched.push_back(path);
            found.emplace(path, modified);
        } else if (!keepSince_ || modified >= *keepSince_) {
            found.emplace(path, modified);
        } else if (older_.size() < keptNewest || modified > older_.top().first) {
            older_.emplace(modified, path);
            if (older_.size() > keptNewest) {
                older_.pop();
            }
        }
    }

    void brokenLink(const std::string&) override { unwatchable = true; }

    /// Adds the newest of the matches older than kept to `found`.
    void finish() {
        for (; !older_.empty(); older_.pop()) {
            found.emplace(older_.top().second, older_.top().first);
        }
    }

    std::vector<std::pair<int, Interest>> interests;
    std::map<std::string, Date> found;
    std::vector<std::string> unwatched;
    bool unwatchable = false;

private:
    using Dated = std::pair<Date, std::string>;

    int inotifyFd_;
    Query& query_;
    int depthOffset_;
    std::optional<Date> keepSince_;
    bool lastWatched_ = false;
    /// The newest of the matches older than kept, oldest on top.
    std::priority_queue<Dated, std::vector<Dated>, std::greater<>> older_;
};

InotifyFileActivityProbe::InotifyFileActivityProbe(std::filesystem::path home, int maxDepth,
                                                   Clock::duration refreshInterval,
                                                   std::optional<TimeInterval> history,
                                                   FirstWalk firstWalk)
    : walker_(std::move(home), maxDepth), refreshInterval_(refreshInterval), history_(history),
      inotifyFd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      firstWalks_(firstWalk == FirstWalk::inBackground
                      ? std::make_unique<SerialQueue>("Stayloom.HistoryWalk")
                      : nullptr) {}

InotifyFileActivityProbe::~InotifyFileActivityProbe() {
    firstWalks_.reset(); // a walk under way ends before what it uses goes
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

std::size_t InotifyFileActivityProbe::watchCount() const {
    const std::lock_guard lock(mutex_);
    return interestsByWatch_.size();
}

std::size_t InotifyFileActivityProbe::keptCount() const {
    const std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [patterns, query] : queries_) {
        count += query.found.size();
    }
    return count;
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
    if (!query.stale && !query.unwatchable && !due) {
        walkNewFolders(query);
    }
    if (firstWalks_ && query.walkedAt == Clock::time_point()) {
        walkLater(query, patterns);
    } else if (query.stale || query.unwatchable || due || !restat(query)) {
        rewalk(query, patterns);
    }
    forgetHistory(query, now);
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
        if ((mask & folderGone) || name.empty()) {
            query.stale = true;
            continue;
        }
        const auto path = joined(interest.folder, name);
        if (mask & IN_ISDIR) {
            noteFolderEvent(interest, mask, name, path);
        } else if (mask & entryRemoved) {
            query.found.erase(path);
            query.dirty.erase(path);
            std::erase(query.unwatched, path);
        } else if (query.found.contains(path) || endsWith(interest.rest, name)) {
            query.dirty.insert(path);
        } else if ((mask & entryAdded) && passesThrough(interest.rest, name)) {
            // Perhaps a link to a folder the patterns go on into.
            query.stale = true;
        }
    }
    if (mask & IN_IGNORED) {
        interestsByWatch_.erase(interests);
    }
}

void InotifyFileActivityProbe::noteFolderEvent(Interest& interest, std::uint32_t mask,
                                               const std::string& name, const std::string& path) {
    auto& query = *interest.query;
    const bool relevant = interest.anyName || interest.names.contains(name);
    if (!relevant || ((mask & IN_ATTRIB) && query.found.contains(path))) {
        return; // a matched folder is stat'ed on every question anyway
    }
    if (!(mask & entryAdded) || endsWith(interest.rest, name) || isDatedFolderName(name)) {
        // Gone, renamed away, its permissions changed, itself a match, or a new date that makes
        // an older dated folder history: the whole set is walked again.
        query.stale = true;
    } else if (auto below = patternsBelow(interest.rest, name); !below.empty()) {
        query.newFolders[path] = NewFolder{std::move(below), interest.depth + 1};
    }
}

void InotifyFileActivityProbe::walkNewFolders(Query& query) const {
    const auto keepSince =
        history_ ? std::optional<Date>(currentDate() - *history_) : std::optional<Date>();
    for (const auto& [folder, pending] : query.newFolders) {
        WalkRecorder recorder(inotifyFd_, query, pending.depth, keepSince);
        FileActivityProbe(folder, walker_.maxDepth - pending.depth)
            .walk(pending.patterns, recorder);
        recorder.finish();
        for (auto& [watch, interest] : recorder.interests) {
            interestsByWatch_[watch].push_back(std::move(interest));
            query.watches.push_back(watch);
        }
        for (const auto& [path, modified] : recorder.found) {
            query.found.insert_or_assign(path, modified);
        }
        query.unwatched.insert(query.unwatched.end(), recorder.unwatched.begin(),
                               recorder.unwatched.end());
        query.unwatchable = query.unwatchable || recorder.unwatchable;
    }
    query.newFolders.clear();
}

bool InotifyFileActivityProbe::restat(Query& query) const {
    for (const auto& path : query.dirty) {
        struct stat info {};
        const bool exists = ::lstat(path.c_str(), &info) == 0;
        if (exists && S_ISREG(info.st_mode)) {
            query.found.insert_or_assign(path, dateOf(info.st_mtim));
        } else if (exists && S_ISLNK(info.st_mode) &&
                   std::find(query.unwatched.begin(), query.unwatched.end(), path) !=
                       query.unwatched.end()) {
            continue; // a matched link is looked at below
        } else if (exists && (S_ISLNK(info.st_mode) || S_ISDIR(info.st_mode))) {
            return false; // only a walk judges where a link leads
        } else {
            // Gone (its removal is on its way), or a FIFO, socket or device: nobody's session.
            query.found.erase(path);
        }
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
    const auto startedAt = Clock::now();
    WalkRecorder recorder(inotifyFd_, query, 0,
                          history_ ? std::optional<Date>(currentDate() - *history_)
                                   : std::optional<Date>());
    walker_.walk(patterns, recorder);
    recorder.finish();
    install(query, recorder, startedAt);
}

void InotifyFileActivityProbe::walkLater(Query& query,
                                         const std::vector<std::string>& patterns) const {
    if (query.walkingLater) {
        return;
    }
    query.walkingLater = true;
    // The walk runs outside the lock: questions meanwhile answer with what is known (nothing
    // yet), and the result is taken in whole. The query is not forgotten while it is walked.
    firstWalks_->async([this, &query, patterns,
                        keepSince = history_ ? std::optional<Date>(currentDate() - *history_)
                                             : std::optional<Date>()] {
        const auto startedAt = Clock::now();
        WalkRecorder recorder(inotifyFd_, query, 0, keepSince);
        walker_.walk(patterns, recorder);
        recorder.finish();
        const std::lock_guard lock(mutex_);
        install(query, recorder, startedAt);
        query.walkingLater = false;
    });
}

void InotifyFileActivityProbe::install(Query& query, WalkRecorder& recorder,
                                       Clock::time_point startedAt) const {
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
    query.newFolders.clear();
    query.stale = false;
    query.unwatchable = recorder.unwatchable;
    query.walkedAt = startedAt;
    query.prunedAt = startedAt;
}

void InotifyFileActivityProbe::forgetHistory(Query& query, Clock::time_point now) const {
    if (!history_ || query.found.size() <= keptNewest ||
        now - query.prunedAt < historyCheckInterval) {
        return;
    }
    query.prunedAt = now;
    std::vector<Date> dates;
    dates.reserve(query.found.size());
    for (const auto& [path, modified] : query.found) {
        dates.push_back(modified);
    }
    const auto newest = dates.begin() + static_cast<std::ptrdiff_t>(keptNewest - 1);
    std::nth_element(dates.begin(), newest, dates.end(), std::greater<>());
    const Date keepSince = std::min(*newest, currentDate() - *history_);
    std::erase_if(query.found, [&](const auto& entry) {
        return entry.second < keepSince && std::find(query.unwatched.begin(), query.unwatched.end(),
                                                     entry.first) == query.unwatched.end();
    });
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
        if (!it->second.walkingLater && now - it->second.askedAt > forgetAfter) {
            detach(it->second, {});
            it = queries_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace nodwarden::linuxplatform
