#pragma once

#include <NodwardenCore/FileActivityProbe.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace nodwarden::linuxplatform {

/// Answers like `FileActivityProbe`, but keeps each pattern set's result and watches the folders
/// the walk went through with inotify, so that a pass over an unchanged home stats nothing.
///
/// A written or touched file is stat'ed again alone; an entry created, removed or renamed where
/// the patterns look, a folder going away, or a lost event queue means walking that pattern set
/// again. Matches that are folders or reached through links change without an event in a
/// watched folder, so they are stat'ed on every question. Every result is walked afresh at least
/// every `refreshInterval`, for changes inotify cannot see (writes through a memory map, other
/// machines on a network home). Without inotify, when a folder cannot be watched, or when the
/// walk passes a broken link, every question walks as the plain prober does. Safe to use from
/// several threads.
class InotifyFileActivityProbe final : public FileActivityProbing {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration defaultRefreshInterval = std::chrono::minutes(2);

    InotifyFileActivityProbe(std::filesystem::path home, int maxDepth,
                             Clock::duration refreshInterval = defaultRefreshInterval);
    ~InotifyFileActivityProbe() override;
    InotifyFileActivityProbe(const InotifyFileActivityProbe&) = delete;
    InotifyFileActivityProbe& operator=(const InotifyFileActivityProbe&) = delete;

    std::optional<Date> newestModification(const std::vector<std::string>& patterns) const override;
    std::map<std::string, Date>
    sessionModifications(const std::vector<std::string>& patterns) const override;
    std::map<std::string, Date> recentSessionModifications(const std::vector<std::string>& patterns,
                                                           Date now, double window) const override;

    /// Whether changes are watched at all; false when inotify could not be set up.
    bool isWatching() const;
    /// How many walks have been made so far, over all pattern sets.
    std::size_t walkCount() const;

private:
    struct Query;
    /// What one pattern set needs to hear about one watched folder.
    struct Interest {
        Query* query;
        std::string folder;
        std::set<std::string> names;
        bool anyName;
    };
    struct Query {
        std::map<std::string, Date> found;
        /// Matches whose changes are no event in a watched folder.
        std::vector<std::string> unwatched;
        /// Matched files written or touched since they were last stat'ed.
        std::set<std::string> dirty;
        std::vector<int> watches;
        bool stale = true;
        bool unwatchable = false;
        Clock::time_point walkedAt;
        Clock::time_point askedAt;
    };
    class WalkRecorder;

    const std::map<std::string, Date>&
    currentResult(const std::vector<std::string>& patterns) const;
    void readEvents() const;
    void handleEvent(int watch, std::uint32_t mask, const std::string& name) const;
    void rewalk(Query& query, const std::vector<std::string>& patterns) const;
    bool restat(Query& query) const;
    /// Drops `query`'s interests; a watch left with none is removed unless it is in `kept`.
    void detach(Query& query, const std::set<int>& kept) const;
    void forgetUnaskedQueries(Clock::time_point now) const;

    FileActivityProbe walker_;
    Clock::duration refreshInterval_;
    int inotifyFd_;
    mutable std::mutex mutex_;
    mutable std::map<std::vector<std::string>, Query> queries_;
    mutable std::unordered_map<int, std::vector<Interest>> interestsByWatch_;
    mutable std::size_t walkCount_ = 0;
};

} // namespace nodwarden::linuxplatform
