#include <NodwardenCore/detection/FileActivityProbe.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

using nodwarden::Date;
using nodwarden::FileActivityProbe;
using stayloom::testing::TemporaryDirectory;
namespace fs = std::filesystem;

namespace {

constexpr Date base = 800'000'000.0;

void setModified(const fs::path& path, Date date) {
    const double unix = nodwarden::unixTimeFromDate(date);
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(std::floor(unix));
    times[0].tv_nsec = static_cast<long>((unix - std::floor(unix)) * 1e9);
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

/// A home folder with agent files; each file's modification time is remembered by its path.
class ProbeTree {
public:
    fs::path add(const std::string& relative, Date modified) {
        const auto path = home_.write(relative, "{}\n");
        times_[relative] = modified;
        return path;
    }
    /// Applies the remembered times last, since creating files touches their folders.
    void settle() {
        for (const auto& [relative, modified] : times_) {
            setModified(home_.path() / relative, modified);
        }
    }
    const fs::path& home() const { return home_.path(); }
    Date timeOf(const std::string& relative) const { return times_.at(relative); }

    std::set<std::string> relativeKeys(const std::map<std::string, Date>& found) const {
        std::set<std::string> keys;
        for (const auto& [path, modified] : found) {
            keys.insert(fs::path(path).lexically_relative(home_.path()).string());
        }
        return keys;
    }

private:
    TemporaryDirectory home_;
    std::map<std::string, Date> times_;
};

class FileActivityProbeMatching : public ::testing::Test {
protected:
    void SetUp() override {
        tree.add(".claude/projects/a.jsonl", base + 10);
        tree.add(".claude/projects/x/y/b.jsonl", base + 20);
        tree.add(".claude/projects/.c.jsonl", base + 30);
        tree.add(".claude/projects/x/notes.txt", base + 900);
        tree.add(".codex/log/codex-tui.log", base + 40);
        tree.add(".codex/sessions/2025/01/rollout-1.jsonl", base + 50);
        tree.add(".codex/sessions/2025/01/other.jsonl", base + 950);
        tree.add("lit/name?.log", base + 60);
        tree.add("lit/name1.log", base + 970);
        tree.add("lit/name[1].log", base + 80);
        tree.settle();
    }
    ProbeTree tree;
};

TEST_F(FileActivityProbeMatching, PatternsSelectExactlyTheMatchingFiles) {
    struct Case {
        std::vector<std::string> patterns;
        std::set<std::string> expected;
    };
    const std::vector<Case> cases = {
        // "**" standing for no folder, for two levels, and "*" matching a leading dot.
        {{".claude/projects/**/*.jsonl"},
         {".claude/projects/a.jsonl", ".claude/projects/x/y/b.jsonl", ".claude/projects/.c.jsonl"}},
        {{"~/.codex/log/codex-tui.log"}, {".codex/log/codex-tui.log"}},
        {{"/.codex/log/codex-tui.log"}, {".codex/log/codex-tui.log"}},
        {{".codex//log/codex-tui.log"}, {".codex/log/codex-tui.log"}},
        {{".codex/sessions/**/rollout-*.jsonl"}, {".codex/sessions/2025/01/rollout-1.jsonl"}},
        // Without "*" a segment is a literal name, even with "?" or brackets in it.
        {{"lit/name?.log"}, {"lit/name?.log"}},
        {{"lit/name[1].log"}, {"lit/name[1].log"}},
        // With "*" the whole segment follows the shell's rules, "?" and brackets included.
        {{"lit/name[0-9]*"}, {"lit/name1.log"}},
        {{"lit/*?.log"}, {"lit/name?.log", "lit/name1.log", "lit/name[1].log"}},
        {{".codex/sessions/*/0?*/rollout-1.jsonl"}, {".codex/sessions/2025/01/rollout-1.jsonl"}},
        {{".codex/sessions/*/0?/rollout-1.jsonl"}, {}},
        // A pattern may end at a folder.
        {{".codex/sessions/*"}, {".codex/sessions/2025"}},
        {{".claude/projects/**/missing.jsonl", "nothing/here"}, {}},
        {{}, {}},
    };
    const FileActivityProbe probe(tree.home(), 8);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.patterns.empty() ? "(none)" : testCase.patterns.front());
        const auto found = probe.sessionModifications(testCase.patterns);
        EXPECT_EQ(tree.relativeKeys(found), testCase.expected);

        std::optional<Date> newest;
        for (const auto& relative : testCase.expected) {
            if (relative == ".codex/sessions/2025") {
                continue; // a folder's own time is whatever the file system gave it
            }
            const auto modified = tree.timeOf(relative);
            EXPECT_DOUBLE_EQ(found.at((tree.home() / relative).string()), modified);
            newest = std::max(newest.value_or(modified), modified);
        }
        if (testCase.expected.count(".codex/sessions/2025") == 0) {
            EXPECT_EQ(probe.newestModification(testCase.patterns), newest);
        }
        EXPECT_EQ(probe.modificationDates(testCase.patterns).size(), testCase.expected.size());
    }
}

TEST_F(FileActivityProbeMatching, DepthLimitCountsComponentsBelowHome) {
    struct Case {
        int maxDepth;
        std::string pattern;
        bool found;
    };
    const std::vector<Case> cases = {
        {2, ".claude/projects/a.jsonl", false},   {3, ".claude/projects/a.jsonl", true},
        {8, ".claude/projects/a.jsonl", true},    {4, ".claude/projects/**/b.jsonl", false},
        {5, ".claude/projects/**/b.jsonl", true}, {2, ".codex/log/codex-tui.log", false},
        {3, ".codex/log/codex-tui.log", true},    {-1, "~/", false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.pattern + " depth " + std::to_string(testCase.maxDepth));
        const FileActivityProbe probe(tree.home(), testCase.maxDepth);
        EXPECT_EQ(probe.newestModification({testCase.pattern}).has_value(), testCase.found);
    }
}

TEST_F(FileActivityProbeMatching, PathReachedSeveralWaysIsRecordedOnce) {
    const FileActivityProbe probe(tree.home(), 8);
    const std::vector<std::string> patterns = {".claude/projects/**/*.jsonl",
                                               ".claude/**/**/*.jsonl", "**/a.jsonl",
                                               "~/.claude/projects/a.jsonl"};
    const auto found = probe.sessionModifications(patterns);
    EXPECT_EQ(tree.relativeKeys(found),
              (std::set<std::string>{".claude/projects/a.jsonl", ".claude/projects/x/y/b.jsonl",
                                     ".claude/projects/.c.jsonl"}));
    auto dates = probe.modificationDates(patterns);
    std::sort(dates.begin(), dates.end());
    EXPECT_EQ(dates, (std::vector<Date>{base + 10, base + 20, base + 30}));
    EXPECT_EQ(probe.newestModification(patterns), base + 30);
}

TEST(FileActivityProbe, MissingHomeOrPatternTargetYieldsNothing) {
    const FileActivityProbe probe("/nonexistent/stayloom/home", 8);
    EXPECT_EQ(probe.newestModification({".claude/projects/**/*.jsonl"}), std::nullopt);
    EXPECT_TRUE(probe.sessionModifications({"~/", ".codex/log/codex-tui.log"}).empty());
}

TEST(FileActivityProbe, EmptyPatternNamesTheHomeFolderItself) {
    TemporaryDirectory home;
    setModified(home.path(), base + 5);
    const FileActivityProbe probe(home.path(), 0);
    EXPECT_EQ(probe.newestModification({"~/"}), base + 5);
    EXPECT_EQ(probe.sessionModifications({"/"}).count(home.path().string()), 1u);
}

TEST(FileActivityProbe, SymbolicLinkLoopsEndAndLinkedFoldersAreNotEnteredByDoubleStar) {
    ProbeTree tree;
    tree.add("sessions/real/s.jsonl", base + 1);
    tree.add("elsewhere/t.jsonl", base + 2);
    const auto sessions = tree.home() / "sessions";
    fs::create_directory_symlink("..", sessions / "up"); // back to the home folder
    fs::create_directory_symlink(sessions / "real", sessions / "real" / "again");
    fs::create_symlink(sessions / "self", sessions / "self"); // loops onto itself
    fs::create_directory_symlink(tree.home() / "elsewhere", sessions / "linked");
    tree.settle();

    // A generous depth limit: termination must not rely on it.
    const FileActivityProbe probe(tree.home(), 64);
    EXPECT_EQ(tree.relativeKeys(probe.sessionModifications({"sessions/**/*.jsonl"})),
              std::set<std::string>{"sessions/real/s.jsonl"});
    // A "*" or a literal name may pass through a link; it consumes a segment, so it ends.
    EXPECT_EQ(tree.relativeKeys(probe.sessionModifications({"sessions/*/t.jsonl"})),
              std::set<std::string>{"sessions/linked/t.jsonl"});
    EXPECT_EQ(probe.newestModification({"sessions/up/sessions/linked/t.jsonl"}), base + 2);
    EXPECT_EQ(probe.newestModification({"sessions/self/**"}), std::nullopt);
}

TEST(FileActivityProbe, FifosSocketsAndDevicesAreNeverMatches) {
    // Whoever reads a match (a transcript reader) must never meet one of these.
    ProbeTree tree;
    tree.add("projects/p/real.jsonl", base + 1);
    tree.add("elsewhere/t.jsonl", base + 2);
    tree.settle();
    const auto folder = tree.home() / "projects" / "p";
    ASSERT_EQ(::mkfifo((folder / "fifo.jsonl").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((tree.home() / "projects" / "named.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder / "zero.jsonl");
    fs::create_symlink(folder / "fifo.jsonl", folder / "to-fifo.jsonl");
    fs::create_symlink(tree.home() / "elsewhere" / "t.jsonl", folder / "linked.jsonl");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const auto socketPath = (folder / "socket.jsonl").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const FileActivityProbe probe(tree.home(), 8);
    EXPECT_EQ(tree.relativeKeys(probe.sessionModifications({"projects/**/*.jsonl"})),
              (std::set<std::string>{"projects/p/linked.jsonl", "projects/p/real.jsonl"}));
    EXPECT_EQ(tree.relativeKeys(
                  probe.sessionModifications({"projects/named.json", "projects/p/zero.jsonl"})),
              std::set<std::string>{})
        << "a literal name is no match either";
    ::close(listener);
}

#if defined(__linux__)
/// Root ignores permission bits; for the scope of this object the calling thread gives up the
/// capabilities that let it, so unreadable folders behave as they do for a normal user.
class PermissionChecksEnforced {
public:
    PermissionChecksEnforced() {
        if (::geteuid() != 0) {
            return;
        }
        if (::syscall(SYS_capget, &header_, saved_) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        changed_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~PermissionChecksEnforced() {
        if (changed_) {
            ::syscall(SYS_capset, &header_, saved_);
        }
    }
    PermissionChecksEnforced(const PermissionChecksEnforced&) = delete;
    PermissionChecksEnforced& operator=(const PermissionChecksEnforced&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool changed_ = false;
};
#else
struct PermissionChecksEnforced {};
#endif

bool canList(const fs::path& folder) {
    DIR* stream = ::opendir(folder.c_str());
    if (stream == nullptr) {
        return false;
    }
    ::closedir(stream);
    return true;
}

TEST(FileActivityProbe, UnreadableFoldersContributeNothingAndDoNotStopTheWalk) {
    ProbeTree tree;
    tree.add("projects/open/a.jsonl", base + 1);
    tree.add("projects/locked/b.jsonl", base + 2);
    tree.add("projects/passthrough/c.jsonl", base + 3);
    tree.settle();
    const auto locked = tree.home() / "projects" / "locked";
    const auto passthrough = tree.home() / "projects" / "passthrough";
    fs::permissions(locked, fs::perms::none);
    fs::permissions(passthrough, fs::perms::owner_exec); // may be passed through, not listed

    const PermissionChecksEnforced enforced;
    if (canList(locked)) {
        GTEST_SKIP() << "permission bits are not enforced for this user (privileged and unable "
                        "to drop the override), so no folder can be made unreadable";
    }
    const FileActivityProbe probe(tree.home(), 8);
    EXPECT_EQ(tree.relativeKeys(probe.sessionModifications({"projects/**/*.jsonl"})),
              std::set<std::string>{"projects/open/a.jsonl"});
    EXPECT_EQ(probe.newestModification({"projects/locked/b.jsonl"}), std::nullopt);
    // A folder that may be searched but not read still resolves a literal name inside it.
    EXPECT_EQ(probe.newestModification({"projects/passthrough/c.jsonl"}), base + 3);
    EXPECT_EQ(probe.newestModification({"projects/passthrough/*.jsonl"}), std::nullopt);
}

} // namespace
