#include <NodwardenApp/platform/ConfigurationFileEdit.hpp>

#include <NodwardenCore/system/UniqueFd.hpp>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <random>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::app::ConfigurationFileEdit {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// The file as one read found it, and the descriptor it was read through: a save in place
/// after the read shows on that descriptor even once the name points elsewhere.
struct Snapshot {
    bool exists = false;
    struct stat status {};
    std::string text;
    UniqueFd descriptor;
    std::optional<std::string> refusal;
};

std::optional<std::string> readAll(int descriptor, std::size_t maxBytes, std::string& text) {
    text.clear();
    std::array<char, 65536> buffer{};
    for (;;) {
        const ssize_t count = ::pread(descriptor, buffer.data(), buffer.size(), off_t(text.size()));
        if (count == 0) {
            return std::nullopt;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return "it cannot be read";
        }
        text.append(buffer.data(), std::size_t(count));
        if (text.size() > maxBytes) {
            return "it is over " + std::to_string(maxBytes >> 20) + " MiB";
        }
    }
}

Snapshot snapshot(const fs::path& path, std::size_t maxBytes) {
    Snapshot taken;
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0) {
        if (errno != ENOENT) {
            taken.refusal = "it cannot be looked at";
        }
        return taken;
    }
    taken.exists = true;
    if (S_ISLNK(named.st_mode)) {
        taken.refusal = "it is a link, which would be replaced by a file: add the entries by hand";
        return taken;
    }
    if (!S_ISREG(named.st_mode)) {
        taken.refusal = "it is not a regular file";
        return taken;
    }
    taken.descriptor =
        UniqueFd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!taken.descriptor.isOpen() || ::fstat(taken.descriptor.get(), &taken.status) != 0) {
        taken.refusal = "it cannot be read";
        return taken;
    }
    if (!S_ISREG(taken.status.st_mode)) {
        taken.refusal = "it is not a regular file";
        return taken;
    }
    taken.refusal = readAll(taken.descriptor.get(), maxBytes, taken.text);
    return taken;
}

bool sameTimes(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_size == b.st_size;
}

/// Whether the file `now` is still the one `before` read: same inode, size, time and text.
bool unchanged(const Snapshot& before, const Snapshot& now) {
    if (before.exists != now.exists || now.refusal) {
        return false;
    }
    return !before.exists || (before.status.st_dev == now.status.st_dev &&
                              before.status.st_ino == now.status.st_ino &&
                              sameTimes(before.status, now.status) && before.text == now.text);
}

/// Whether the inode `before` read still holds what it held, looked at through its descriptor.
bool stillAsRead(const Snapshot& before) {
    struct stat status {};
    std::string text;
    return ::fstat(before.descriptor.get(), &status) == 0 && sameTimes(before.status, status) &&
           !readAll(before.descriptor.get(), std::size_t(before.status.st_size), text) &&
           text == before.text;
}

/// The owner a file at `path` must have: its own, or for a new file the nearest folder's.
struct stat ownerFor(const fs::path& path) {
    struct stat status {};
    for (fs::path at = path; !at.empty(); at = at.parent_path()) {
        if (::lstat(at.c_str(), &status) == 0 || at == at.parent_path()) {
            break;
        }
    }
    return status;
}

/// As root on another user's file, this thread's file access runs as that user, so the new file
/// and any folder made for it are theirs and nothing is reached that they could not reach.
class FileIdentity {
public:
    explicit FileIdentity(const struct stat& owner) {
        if (::geteuid() != 0 || owner.st_uid == 0) {
            return;
        }
        previousGroup_ = ::setfsgid(owner.st_gid);
        previousUser_ = ::setfsuid(owner.st_uid);
        switched_ = true;
    }
    ~FileIdentity() {
        if (switched_) {
            ::setfsuid(previousUser_);
            ::setfsgid(previousGroup_);
        }
    }
    FileIdentity(const FileIdentity&) = delete;
    FileIdentity& operator=(const FileIdentity&) = delete;

private:
    bool switched_ = false;
    int previousUser_ = 0;
    int previousGroup_ = 0;
};

/// The signals that end a run politely wait while a temporary copy has a name, so that a
/// polite kill never leaves one behind (a SIGKILL's is swept by the next run).
class SignalHold {
public:
    SignalHold() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
            sigaddset(&held, signal);
        }
        ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalHold() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t previous_{};
};

constexpr std::string_view temporaryMark = ".stayloom-";

/// ".<name>.stayloom-<pid>.<random>" beside `path`.
fs::path temporaryName(const fs::path& path) {
    static thread_local std::mt19937 random{std::random_device{}()};
    return path.parent_path() / ("." + path.filename().string() + std::string(temporaryMark) +
                                 std::to_string(::getpid()) + "." + std::to_string(random()));
}

/// Removes the temporary copies of `path` whose run has gone.
void sweepStale(const fs::path& path) {
    const std::string prefix = "." + path.filename().string() + std::string(temporaryMark);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        const std::string rest = name.substr(prefix.size());
        const auto dot = rest.find('.');
        const pid_t pid = std::atoi(rest.substr(0, dot).c_str());
        if (pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH) {
            ::unlink(entry.path().c_str());
        }
    }
}

/// The new text in a file of its own beside the old, unnamed while it is written.
class TemporaryCopy {
public:
    /// Why it could not be made, or nothing.
    std::optional<std::string> create(const fs::path& path, const std::string& text, mode_t mode,
                                      std::optional<gid_t> group) {
        const fs::path folder = path.parent_path();
        descriptor_ = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (!descriptor_.isOpen()) {
            // Without unnamed files here, the copy is named from the start.
            hold_.emplace();
            name_ = temporaryName(path);
            descriptor_ =
                UniqueFd(::open(name_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
            if (!descriptor_.isOpen()) {
                name_.clear();
                return "it could not be written";
            }
        }
        struct stat status {};
        if (::fstat(descriptor_.get(), &status) != 0 ||
            (group && status.st_gid != *group &&
             ::fchown(descriptor_.get(), uid_t(-1), *group) != 0)) {
            return "its group could not be kept";
        }
        if (::fchmod(descriptor_.get(), mode) != 0) {
            return "its mode could not be kept";
        }
        for (std::size_t written = 0; written < text.size();) {
            const ssize_t count =
                ::write(descriptor_.get(), text.data() + written, text.size() - written);
            if (count < 0 && errno != EINTR) {
                return "it could not be written";
            }
            written += count > 0 ? std::size_t(count) : 0;
        }
        if (::fstat(descriptor_.get(), &status) != 0) {
            return "it could not be written";
        }
        inode_ = status.st_ino;
        return std::nullopt;
    }

    /// Flushes the copy to disk. Done once it is in place: a flush takes longer than an agent
    /// takes between saves, and inside the check it would leave no moment quiet enough to edit.
    bool flush() const { return ::fsync(descriptor_.get()) == 0; }

    /// Gives the copy its name beside `path`, signals held from here on.
    bool publish(const fs::path& path) {
        if (!name_.empty()) {
            return true;
        }
        hold_.emplace();
        const std::string self = "/proc/self/fd/" + std::to_string(descriptor_.get());
        for (int tries = 0; tries < 8; ++tries) {
            name_ = temporaryName(path);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name_.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                (errno == ENOENT &&
                 ::linkat(descriptor_.get(), "", AT_FDCWD, name_.c_str(), AT_EMPTY_PATH) == 0)) {
                return true;
            }
            if (errno != EEXIST) {
                break;
            }
        }
        name_.clear();
        return false;
    }

    const fs::path& name() const { return name_; }
    ino_t inode() const { return inode_; }
    /// The name now belongs to the file in place.
    void forget() { name_.clear(); }

    TemporaryCopy() = default;
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;
    ~TemporaryCopy() {
        if (!name_.empty()) {
            ::unlink(name_.c_str());
        }
        descriptor_.reset();
    }

private:
    // Declared first so the signals are let through only once the name is gone.
    std::optional<SignalHold> hold_;
    UniqueFd descriptor_;
    fs::path name_;
    ino_t inode_ = 0;
};

enum class Swap { done, raced, failed };

/// Puts `copy` in `path`'s place if `path` is still what `read` found; otherwise leaves
/// whatever another program saved meanwhile where it is.
Swap swapIn(TemporaryCopy& copy, const fs::path& path, const Snapshot& read) {
    if (!copy.publish(path)) {
        return Swap::failed;
    }
    if (!read.exists) {
        if (::renameat2(AT_FDCWD, copy.name().c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) ==
            0) {
            copy.forget();
            return Swap::done;
        }
        return errno == EEXIST ? Swap::raced : Swap::failed;
    }
    if (::renameat2(AT_FDCWD, copy.name().c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) {
            return Swap::failed;
        }
        // A file system without exchange: the check just before stands alone.
        if (::rename(copy.name().c_str(), path.c_str()) != 0) {
            return Swap::failed;
        }
        copy.forget();
        return Swap::done;
    }
    // What was swapped out must be what was read, untouched: a save that landed between the
    // last check and the swap goes back in place.
    struct stat displaced {};
    const bool asRead = ::lstat(copy.name().c_str(), &displaced) == 0 &&
                        displaced.st_ino == read.status.st_ino &&
                        displaced.st_dev == read.status.st_dev && stillAsRead(read);
    if (asRead) {
        return Swap::done; // the copy's name now holds the old file, unlinked with it
    }
    ::renameat2(AT_FDCWD, copy.name().c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
    struct stat back {};
    if (::lstat(copy.name().c_str(), &back) == 0 && back.st_ino != copy.inode()) {
        // Yet another save replaced ours in that instant: the newest stays.
        ::rename(copy.name().c_str(), path.c_str());
        copy.forget();
    }
    return Swap::raced;
}

/// Why the file must not be rewritten, whatever its text.
std::optional<std::string> unwritable(const Snapshot& read) {
    if (!read.exists) {
        return std::nullopt;
    }
    if (read.status.st_nlink > 1) {
        return "it has other hard links, which would keep the old text";
    }
    if ((read.status.st_mode & S_IWUSR) == 0) {
        return "it is read-only";
    }
    if (::geteuid() != 0 && read.status.st_uid != ::geteuid()) {
        return "it belongs to another user";
    }
    return std::nullopt;
}

bool blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

Outcome leftAlone(std::string reason) {
    return {Outcome::Kind::leftAlone, std::move(reason)};
}

} // namespace

Reading read(const fs::path& path, const std::function<bool(const std::string&)>& looksWhole,
             const Limits& limits) {
    const FileIdentity identity(ownerFor(path));
    Snapshot taken;
    for (int attempt = 0;; ++attempt) {
        taken = snapshot(path, limits.maxBytes);
        const bool whole =
            taken.refusal || !taken.exists || (!blank(taken.text) && looksWhole(taken.text));
        if (whole || attempt + 1 >= limits.readAttempts) {
            break;
        }
        std::this_thread::sleep_for(limits.readPause);
    }
    return {taken.exists, std::move(taken.text), std::move(taken.refusal)};
}

Outcome edit(const fs::path& path, const Merger& merge, const Limits& limits) {
    const struct stat owner = ownerFor(path);
    const FileIdentity identity(owner);
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
        return leftAlone("its folder could not be made");
    }
    sweepStale(path);
    const auto giveUpAt = Clock::now() + limits.patience;
    // How many reads in a row found the same empty or half-written text.
    int partialReads = 0;
    Snapshot partialBefore;
    for (;;) {
        Snapshot read = snapshot(path, limits.maxBytes);
        if (read.refusal) {
            return leftAlone(*read.refusal);
        }
        if (auto reason = unwritable(read)) {
            return leftAlone(*reason);
        }
        Merge merged = merge(read.text, read.exists);
        // An empty or half-written text is most likely a save in place caught midway.
        const bool partial =
            merged.kind == Merge::Kind::cutShort ||
            (read.exists && blank(read.text) && merged.kind != Merge::Kind::refused);
        if (partial) {
            // Only a text that stays so is what the file holds; one that moves is being saved.
            partialReads = unchanged(partialBefore, read) ? partialReads + 1 : 1;
            partialBefore = std::move(read);
            if (partialReads < limits.readAttempts && Clock::now() < giveUpAt) {
                std::this_thread::sleep_for(limits.readPause);
                continue;
            }
            read = std::move(partialBefore);
        }
        switch (merged.kind) {
        case Merge::Kind::refused:
        case Merge::Kind::cutShort:
            return leftAlone(merged.reason);
        case Merge::Kind::unchanged:
            return {};
        case Merge::Kind::remove:
            if (unchanged(read, snapshot(path, limits.maxBytes))) {
                if (::unlink(path.c_str()) != 0) {
                    return leftAlone("it could not be removed");
                }
                return {Outcome::Kind::removed, {}};
            }
            break;
        case Merge::Kind::replace: {
            TemporaryCopy copy;
            const mode_t mode = read.exists ? (read.status.st_mode & 07777) : 0600;
            const auto group = read.exists ? std::optional(read.status.st_gid) : std::nullopt;
            if (auto failure = copy.create(path, merged.text, mode, group)) {
                return leftAlone(*failure);
            }
            if (unchanged(read, snapshot(path, limits.maxBytes))) {
                const Swap swap = swapIn(copy, path, read);
                if (swap == Swap::done) {
                    copy.flush();
                    return {Outcome::Kind::written, {}};
                }
                if (swap == Swap::failed) {
                    return leftAlone("it could not be written");
                }
            }
            break;
        }
        }
        if (Clock::now() >= giveUpAt) {
            return leftAlone("it kept changing while it was being edited: try again");
        }
        partialReads = 0;
        partialBefore = {};
        std::this_thread::yield();
    }
}

} // namespace nodwarden::app::ConfigurationFileEdit
