#include <NodwardenLinux/InotifyFileActivityProbe.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

using nodwarden::Date;
using nodwarden::FileActivityProbe;
using nodwarden::linuxplatform::InotifyFileActivityProbe;
using stayloom::testing::TemporaryDirectory;
namespace fs = std::filesystem;

namespace {

constexpr int depth = 6;

/// The pattern sets the catalog's agents use, plus a matched folder, a literal path through a
/// symbolic link and names matched by a wildcard next to names that are not.
const std::vector<std::vector<std::string>> patternSets = {
    {".claude/projects/**/*.jsonl"},
    {".codex/sessions/**/rollout-*.jsonl", ".codex/log/codex-tui.log"},
    {"lit/*.log"},
    {"linked/inner/*.jsonl"},
    {".claude/projects/*"},
};

void setModified(const fs::path& path, double unixTime) {
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixTime);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void append(const fs::path& path) {
    std::ofstream(path, std::ios::app) << "{}\n";
}

/// Changes a home folder at random in the ways agents and users do, touching only a few folders
/// so that changes pile up on the same files.
class RandomHomeChanges {
public:
    explicit RandomHomeChanges(const fs::path& home) : home_(home), random_(20261208) {
        fs::create_directories(home_ / "target" / "inner");
        fs::create_symlink(home_ / "target", home_ / "linked");
    }

    /// Makes one change and says which, for the failure message.
    std::string step() {
        const auto folder = home_ / pick(folderNames);
        const auto file = folder / pick(fileNames);
        switch (std::uniform_int_distribution<int>(0, 7)(random_)) {
        case 0:
        case 1:
            fs::create_directories(folder);
            append(file);
            return "append " + file.string();
        case 2:
            setModified(file,
                        1'700'000'000.0 + std::uniform_int_distribution<int>(0, 9999)(random_));
            return "touch " + file.string();
        case 3:
            fs::remove(file);
            return "remove " + file.string();
        case 4: {
            const auto destination = home_ / pick(folderNames) / pick(fileNames);
            std::error_code ignored;
            fs::rename(file, destination, ignored);
            return "move " + file.string() + " to " + destination.string();
        }
        case 5:
            fs::create_directories(folder);
            return "make " + folder.string();
        case 6: {
            if (folder == home_ / "target" / "inner") {
                return "keep " + folder.string();
            }
            fs::remove_all(folder);
            return "remove all of " + folder.string();
        }
        default: {
            const auto renamed = folder.parent_path() / (folder.filename().string() + "-old");
            std::error_code ignored;
            fs::remove_all(renamed, ignored);
            fs::rename(folder, renamed, ignored);
            fs::rename(renamed, folder.parent_path() / "p9", ignored);
            return "rename " + folder.string();
        }
        }
    }

private:
    static constexpr std::array<const char*, 9> folderNames = {
        ".claude/projects",
        ".claude/projects/p1",
        ".claude/projects/p1/sub",
        ".claude/projects/p9",
        ".codex/sessions/2026/01",
        ".codex/log",
        "lit",
        "target/inner",
        ".cache",
    };
    static constexpr std::array<const char*, 7> fileNames = {
        "s1.jsonl",      "s2.jsonl", "agent-3.jsonl", "rollout-a.jsonl",
        "codex-tui.log", "x.log",    "notes.txt",
    };

    template <typename Names> const char* pick(const Names& names) {
        return names[std::uniform_int_distribution<std::size_t>(0, names.size() - 1)(random_)];
    }

    fs::path home_;
    std::mt19937 random_;
};

TEST(InotifyFileActivityProbe, AgreesWithAFreshWalkAfterEveryChange) {
    const TemporaryDirectory home;
    RandomHomeChanges changes(home.path());
    const FileActivityProbe walker(home.path(), depth);
    const InotifyFileActivityProbe probe(home.path(), depth, std::chrono::hours(1));
    ASSERT_TRUE(probe.isWatching());

    for (int stepIndex = 0; stepIndex < 400; ++stepIndex) {
        const auto change = changes.step();
        for (const auto& patterns : patternSets) {
            ASSERT_EQ(probe.sessionModifications(patterns), walker.sessionModifications(patterns))
                << "step " << stepIndex << ": " << change << ", patterns " << patterns.front();
            ASSERT_EQ(probe.newestModification(patterns), walker.newestModification(patterns))
                << "step " << stepIndex << ": " << change;
            // Appended files are new; touched ones lie years back.
            const auto now = nodwarden::dateFromUnixTime(1'700'005'000.0);
            ASSERT_EQ(probe.recentSessionModifications(patterns, now, 3000),
                      walker.recentSessionModifications(patterns, now, 3000))
                << "step " << stepIndex << ": " << change;
        }
    }
    // Most steps must have been answered from what was kept, or nothing is being saved.
    EXPECT_LT(probe.walkCount(), 400 * patternSets.size() / 2);
}

TEST(InotifyFileActivityProbe, WritesAndTouchesOfMatchedFilesNeedNoNewWalk) {
    const TemporaryDirectory home;
    const auto session = home.write(".claude/projects/p/s.jsonl", "{}\n");
    home.write(".claude/projects/p/notes.txt", "x");
    const std::vector<std::string> patterns = {".claude/projects/**/*.jsonl"};
    const InotifyFileActivityProbe probe(home.path(), depth, std::chrono::hours(1));
    ASSERT_TRUE(probe.newestModification(patterns));
    const auto walks = probe.walkCount();

    setModified(session, 1'600'000'000.0);
    EXPECT_EQ(probe.newestModification(patterns), nodwarden::dateFromUnixTime(1'600'000'000.0));
    append(session);
    EXPECT_GT(*probe.newestModification(patterns), nodwarden::dateFromUnixTime(1'700'000'000.0));
    // Files the patterns do not select, and names next to the home's literal path, are no reason
    // to walk again; a new transcript is.
    append(home.path() / ".claude/projects/p/notes.txt");
    home.write(".bash_history", "ls\n");
    home.write(".claude/settings.json", "{}");
    probe.newestModification(patterns);
    EXPECT_EQ(probe.walkCount(), walks);

    // A new transcript is stat'ed alone, where it appears.
    home.write(".claude/projects/p/t.jsonl", "{}\n");
    EXPECT_EQ(probe.sessionModifications(patterns).size(), 2u);
    EXPECT_EQ(probe.walkCount(), walks);
}

TEST(InotifyFileActivityProbe, ARecordChangedBetweenTwoPassesIsSeenInTheNextPass) {
    const TemporaryDirectory home;
    const auto chat = home.write(".gemini/tmp/h1/chats/session-1.jsonl", "{}\n");
    const std::vector<std::string> patterns = {".gemini/tmp/*/chats/session-*.jsonl"};
    const InotifyFileActivityProbe probe(home.path(), depth);
    setModified(chat, 1'700'000'000.0);
    ASSERT_EQ(probe.newestModification(patterns), nodwarden::dateFromUnixTime(1'700'000'000.0));

    setModified(chat, 1'700'000'100.0);
    EXPECT_EQ(probe.newestModification(patterns), nodwarden::dateFromUnixTime(1'700'000'100.0));
    // A chat in a project folder made after the first pass, and a second one beside it.
    home.write(".gemini/tmp/h2/chats/session-2.jsonl", "{}\n");
    EXPECT_EQ(probe.sessionModifications(patterns).size(), 2u);
    home.write(".gemini/tmp/h2/chats/session-3.jsonl", "{}\n");
    EXPECT_EQ(probe.sessionModifications(patterns).size(), 3u);
    EXPECT_EQ(probe.walkCount(), 1u) << "each change is looked at alone";
}

TEST(InotifyFileActivityProbe, AFirstWalkInTheBackgroundAnswersNothingUntilItEnds) {
    // The first question must not wait for a big history: it answers that nothing matched and
    // the walk runs on the prober's own thread; a file written after it is heard of as usual.
    const TemporaryDirectory home;
    for (int index = 0; index < 200; ++index) {
        home.write(".claude/projects/p" + std::to_string(index % 20) + "/s" +
                       std::to_string(index) + ".jsonl",
                   "{}\n");
    }
    const std::vector<std::string> patterns = {".claude/projects/**/*.jsonl"};
    const InotifyFileActivityProbe probe(home.path(), depth, InotifyFileActivityProbe::noRefresh,
                                         std::nullopt,
                                         InotifyFileActivityProbe::FirstWalk::inBackground);
    EXPECT_TRUE(probe.sessionModifications(patterns).empty());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (probe.walkCount() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(probe.sessionModifications(patterns).size(), 200u);
    const auto session = home.path() / ".claude/projects/p3/s3.jsonl";
    setModified(session, 1'600'000'000.0);
    EXPECT_EQ(probe.sessionModifications(patterns).at(session.string()),
              nodwarden::dateFromUnixTime(1'600'000'000.0));
    EXPECT_EQ(probe.walkCount(), 1u);
}

TEST(InotifyFileActivityProbe, TodaysNewDatedFolderIsPickedUp) {
    const TemporaryDirectory home;
    home.write(".codex/sessions/2026/12/08/rollout-a.jsonl", "{}\n");
    const std::vector<std::string> patterns = {".codex/sessions/**/rollout-*.jsonl"};
    const InotifyFileActivityProbe probe(home.path(), depth);
    ASSERT_EQ(probe.sessionModifications(patterns).size(), 1u);

    // Midnight, then a new year.
    home.write(".codex/sessions/2026/12/09/rollout-b.jsonl", "{}\n");
    EXPECT_TRUE(probe.sessionModifications(patterns).contains(
        (home.path() / ".codex/sessions/2026/12/09/rollout-b.jsonl").string()));
    home.write(".codex/sessions/2027/01/01/rollout-c.jsonl", "{}\n");
    EXPECT_TRUE(probe.sessionModifications(patterns).contains(
        (home.path() / ".codex/sessions/2027/01/01/rollout-c.jsonl").string()));
    // Yesterday's session goes on past midnight.
    append(home.path() / ".codex/sessions/2026/12/09/rollout-b.jsonl");
    EXPECT_EQ(probe.sessionModifications(patterns).size(), 3u);
}

TEST(InotifyFileActivityProbe, OldDatedFoldersGetNoWatchAndNoWalk) {
    const TemporaryDirectory home;
    const std::vector<std::string> patterns = {".codex/sessions/**/rollout-*.jsonl"};
    for (int month = 1; month <= 12; ++month) {
        for (int day = 10; day <= 25; ++day) {
            home.write(".codex/sessions/2025/" + std::to_string(month + 10) + "/" +
                           std::to_string(day) + "/rollout-old.jsonl",
                       "{}\n");
        }
    }
    home.write(".codex/sessions/2026/12/08/rollout-today.jsonl", "{}\n");
    const InotifyFileActivityProbe probe(home.path(), depth);
    const auto found = probe.sessionModifications(patterns);
    // home, .codex, sessions, the two years, two months in each, two days in each.
    EXPECT_LE(probe.watchCount(), 13u);
    EXPECT_EQ(found.size(), 5u) << "the newest two days of the newest two months of two years";
    EXPECT_FALSE(
        found.contains((home.path() / ".codex/sessions/2025/11/10/rollout-old.jsonl").string()));

    // Written in a folder nobody watches: a resumed old session is not heard of.
    append(home.path() / ".codex/sessions/2025/11/10/rollout-old.jsonl");
    EXPECT_EQ(probe.sessionModifications(patterns), found);
    EXPECT_EQ(probe.walkCount(), 1u);
}

TEST(InotifyFileActivityProbe, OldTranscriptsAreForgottenUntilWrittenAgain) {
    const TemporaryDirectory home;
    const std::vector<std::string> patterns = {".claude/projects/**/*.jsonl"};
    for (int index = 0; index < 60; ++index) {
        const auto old =
            home.write(".claude/projects/p/old-" + std::to_string(index) + ".jsonl", "{}\n");
        setModified(old, 1'600'000'000.0 + index);
    }
    home.write(".claude/projects/p/today.jsonl", "{}\n");
    const InotifyFileActivityProbe probe(home.path(), depth, InotifyFileActivityProbe::noRefresh,
                                         3600.0);
    const auto found = probe.sessionModifications(patterns);
    // Today's and the newest of the old ones.
    EXPECT_EQ(found.size(), InotifyFileActivityProbe::keptNewest + 1);
    EXPECT_TRUE(found.contains((home.path() / ".claude/projects/p/today.jsonl").string()));
    EXPECT_FALSE(found.contains((home.path() / ".claude/projects/p/old-0.jsonl").string()));

    // A resumed session in the same watched folder is heard of again.
    append(home.path() / ".claude/projects/p/old-0.jsonl");
    EXPECT_TRUE(probe.sessionModifications(patterns).contains(
        (home.path() / ".claude/projects/p/old-0.jsonl").string()));
    EXPECT_EQ(probe.walkCount(), 1u);
    EXPECT_EQ(probe.keptCount(), InotifyFileActivityProbe::keptNewest + 2);
}

TEST(InotifyFileActivityProbe, AFolderCreatedAfterTheFirstQuestionIsFound) {
    const TemporaryDirectory home;
    const std::vector<std::string> patterns = {".pi/agent/sessions/**/*.jsonl"};
    const InotifyFileActivityProbe probe(home.path(), depth, std::chrono::hours(1));
    EXPECT_FALSE(probe.newestModification(patterns));

    home.write(".pi/agent/sessions/--home-me--/s.jsonl", "{}\n");
    EXPECT_TRUE(probe.newestModification(patterns));
    fs::remove_all(home.path() / ".pi");
    EXPECT_FALSE(probe.newestModification(patterns));
}

TEST(InotifyFileActivityProbe, ALinkedFolderReplacedBehindTheLinkIsFound) {
    // The link's target sits in a folder nobody watches: only the target's own events tell.
    const TemporaryDirectory home;
    fs::create_directories(home.path() / "elsewhere" / "target");
    fs::create_symlink(home.path() / "elsewhere" / "target", home.path() / "linked");
    const std::vector<std::string> patterns = {"linked/inner/*.jsonl"};
    const InotifyFileActivityProbe probe(home.path(), depth, std::chrono::hours(1));
    EXPECT_FALSE(probe.newestModification(patterns));

    fs::remove(home.path() / "elsewhere" / "target");
    EXPECT_FALSE(probe.newestModification(patterns));
    home.write("elsewhere/target/inner/s.jsonl", "{}\n");
    EXPECT_TRUE(probe.newestModification(patterns));
}

TEST(InotifyFileActivityProbe, ALinkWhoseTargetBecomesAFifoIsNoLongerAMatch) {
    // The target sits where nothing is watched: the link is looked at again on every question,
    // and then it must be judged as a walk would judge it.
    const TemporaryDirectory home;
    const auto target = home.write("elsewhere/t.jsonl", "{}\n");
    fs::create_directories(home.path() / ".claude/projects/p");
    fs::create_symlink(target, home.path() / ".claude/projects/p/s.jsonl");
    const std::vector<std::string> patterns = {".claude/projects/**/*.jsonl"};
    const InotifyFileActivityProbe probe(home.path(), depth, std::chrono::hours(1));
    EXPECT_EQ(probe.sessionModifications(patterns).size(), 1u);

    fs::remove(target);
    ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
    EXPECT_TRUE(probe.sessionModifications(patterns).empty());
    ASSERT_EQ(::mkfifo((home.path() / ".claude/projects/p/fifo.jsonl").c_str(), 0600), 0);
    EXPECT_TRUE(probe.sessionModifications(patterns).empty()) << "nor a FIFO in a watched folder";
    fs::remove(target);
    fs::create_symlink("/dev/zero", target);
    EXPECT_TRUE(probe.sessionModifications(patterns).empty()) << "nor a device";
}

TEST(InotifyFileActivityProbe, WalksAgainOnceTheRefreshIntervalHasPassed) {
    const TemporaryDirectory home;
    home.write(".grok/sessions/g/updates.jsonl", "{}\n");
    const std::vector<std::string> patterns = {".grok/sessions/**/updates.jsonl"};
    struct Case {
        std::chrono::milliseconds interval;
        std::size_t walks;
    };
    for (const auto& testCase :
         {Case{std::chrono::milliseconds(0), 3}, Case{std::chrono::hours(1), 1}}) {
        const InotifyFileActivityProbe probe(home.path(), depth, testCase.interval);
        for (int question = 0; question < 3; ++question) {
            EXPECT_TRUE(probe.newestModification(patterns));
        }
        EXPECT_EQ(probe.walkCount(), testCase.walks) << testCase.interval.count() << " ms";
    }
}

TEST(InotifyFileActivityProbe, QuestionsFromSeveralThreadsWhileFilesChange) {
    const TemporaryDirectory home;
    const InotifyFileActivityProbe probe(home.path(), depth, std::chrono::hours(1));
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (int index = 0; index < 200; ++index) {
            home.write(".claude/projects/p" + std::to_string(index % 7) + "/s.jsonl", "{}\n");
            if (index % 50 == 49) {
                fs::remove_all(home.path() / ".claude");
            }
        }
        done = true;
    });
    auto ask = [&] {
        while (!done) {
            for (const auto& patterns : patternSets) {
                (void)probe.sessionModifications(patterns);
            }
        }
    };
    std::thread first(ask);
    std::thread second(ask);
    writer.join();
    first.join();
    second.join();
    const FileActivityProbe walker(home.path(), depth);
    EXPECT_EQ(probe.sessionModifications(patternSets.front()),
              walker.sessionModifications(patternSets.front()));
}

} // namespace
