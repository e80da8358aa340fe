#pragma once

#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace nodwarden::linuxplatform {

/// Answers like `FileActivityProbe`, but keeps each pattern set's result and watches the folders
/// the walk went through with inotify, so that a pass over an unchanged home makes no system call
/// beyond reading the (empty) event queue.
///
/// A file written, touched, created or moved in where a pattern ends is stat'ed alone; a folder
/// created where the patterns look is walked alone. A folder removed or renamed, a new dated
/// folder, or a lost event queue means walking that pattern set again. Matches that are folders or
/// reached through links change without an event in a watched folder, so they are stat'ed on
/// every question. Without inotify, when a folder cannot be watched, or when the walk passes a
/// broken link, every question walks as the plain prober does. Safe to use from several threads.
///
/// History need not cost anything: among sibling folders named only with digits (a year, a
/// month, a day) only the two greatest are walked and watched, since new files appear only in the
/// current date's folder and yesterday's may still be written; and with `history`, a match last
/// modified longer ago than that, and not among the newest few, is forgotten. A file appended to
/// in an older dated folder is therefore not seen.
class InotifyFileActivityProbe final : public FileActivityProbing {
public:
    using Clock = std::chrono::steady_clock;
    /// Never walk again only because time passed.
    static constexpr Clock::duration noRefresh = Clock::duration::max();
    /// How many of the newest matches are kept however old they are.
    static constexpr std::size_t keptNewest = 16;

    /// Where a pattern set's first walk runs: in the question that needs it, or on a thread of
    /// the prober's own, the questions meanwhile answering that nothing matched (so a first
    /// decision never waits for a big history).
    enum class FirstWalk { inQuestion, inBackground };

    InotifyFileActivityProbe(std::filesystem::path home, int maxDepth,
                             Clock::duration refreshInterval = noRefresh,
                             std::optional<TimeInterval> history = std::nullopt,
                             FirstWalk firstWalk = FirstWalk::inQuestion);
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
    /// How many whole walks have been made so far, over all pattern sets.
    std::size_t walkCount() const;
    /// How many folders are watched now.
    std::size_t watchCount() const;
    /// How many matches are kept now, over all pattern sets.
    std::size_t keptCount() const;

private:
    struct Query;
    /// What one pattern set needs to hear about one watched folder.
    struct Interest {
        Query* query;
        std::string folder;
        std::set<std::string> names;
        bool anyName;
        /// The patterns left in this folder, relative to it.
        std::vector<std::string> rest;
        /// Path components below the home folder.
        int depth = 0;
    };
    /// A folder created where a pattern set looks, to be walked alone.
    struct NewFolder {
        std::vector<std::string> patterns;
        int depth;
    };
    struct Query {
        std::map<std::string, Date> found;
        /// Matches whose changes are no event in a watched folder.
        std::vector<std::string> unwatched;
        /// Entries written, touched or created where a pattern ends, since last looked at.
        std::set<std::string> dirty;
        std::map<std::string, NewFolder> newFolders;
        std::vector<int> watches;
        bool stale = true;
        bool unwatchable = false;
        Clock::time_point walkedAt;
        Clock::time_point askedAt;
        Clock::time_point prunedAt;
        /// Its first walk is under way in the background.
        bool walkingLater = false;
    };
    class WalkRecorder;

    const std::map<std::string, Date>&
    currentResult(const std::vector<std::string>& patterns) const;
    void readEvents() const;
    void handleEvent(int watch, std::uint32_t mask, const std::string& name) const;
    static void noteFolderEvent(Interest& interest, std::uint32_t mask, const std::string& name,
                                const std::string& path);
    void rewalk(Query& query, const std::vector<std::string>& patterns) const;
    /// Queues the query's first walk on the prober's own thread.
    void walkLater(Query& query, const std::vector<std::string>& patterns) const;
    /// Takes in what a walk found and watched; under the lock.
    void install(Query& query, WalkRecorder& recorder, Clock::time_point startedAt) const;
    /// Walks each folder created since the last question alone.
    void walkNewFolders(Query& query) const;
    bool restat(Query& query) const;
    void forgetHistory(Query& query, Clock::time_point now) const;
    /// Drops `query`'s interests; a watch left with none is removed unless it is in `kept`.
    void detach(Query& query, const std::set<int>& kept) const;
    void forgetUnaskedQueries(Clock::time_point now) const;

    FileActivityProbe walker_;
    Clock::duration refreshInterval_;
    std::optional<TimeInterval> history_;
    int inotifyFd_;
    mutable std::mutex mutex_;
    mutable std::map<std::vector<std::string>, Query> queries_;
    mutable std::unordered_map<int, std::vector<Interest>> interestsByWatch_;
    mutable std::size_t walkCount_ = 0;
    /// Last, so that it stops first: its walks use everything above.
    std::unique_ptr<SerialQueue> firstWalks_;
};

} // namespace nodwarden::linuxplatform
