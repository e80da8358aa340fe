#include "SleepTargets.hpp"

#include <NodwardenCore/system/AtomicFile.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace stayloom::helpers {

namespace {

enum class UnitEntry { absent, maskLink, other };

UnitEntry inspect(const std::filesystem::path& file) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(file, error);
    if (error || !std::filesystem::exists(status)) {
        return UnitEntry::absent;
    }
    if (std::filesystem::is_symlink(status)) {
        const auto target = std::filesystem::read_symlink(file, error);
        if (!error && target == "/dev/null") {
            return UnitEntry::maskLink;
        }
    }
    return UnitEntry::other;
}

bool isSleepTarget(std::string_view name) {
    return std::find(sleepTargetUnits.begin(), sleepTargetUnits.end(), name) !=
           sleepTargetUnits.end();
}

} // namespace

UnitMask unitMask(const std::filesystem::path& root, std::string_view unit) {
    // The service manager reads /etc before /run: a real unit file placed in /etc by an
    // administrator hides a runtime mask, so the unit is not masked then.
    switch (inspect(root / "etc/systemd/system" / unit)) {
    case UnitEntry::maskLink:
        return UnitMask::persistent;
    case UnitEntry::other:
        return UnitMask::none;
    case UnitEntry::absent:
        break;
    }
    return hasRuntimeMaskLink(root, unit) ? UnitMask::runtime : UnitMask::none;
}

bool hasRuntimeMaskLink(const std::filesystem::path& root, std::string_view unit) {
    return inspect(root / "run/systemd/system" / unit) == UnitEntry::maskLink;
}

std::string_view describe(UnitMask mask) {
    switch (mask) {
    case UnitMask::runtime:
        return "masked-runtime";
    case UnitMask::persistent:
        return "masked";
    case UnitMask::none:
        break;
    }
    return "unmasked";
}

std::filesystem::path ownMaskRecordPath(const std::filesystem::path& root) {
    return root / "run/stayloom/sleep-switch-masks";
}

namespace {

/// Five unit names fit many times over; anything longer was not written by the switch.
constexpr std::size_t longestRecord = 4096;

/// Root's, or the reader's own: a file only they could have written says what they wrote.
bool trustedOwner(uid_t owner) {
    return owner == 0 || owner == ::geteuid();
}

/// Why `status` (of `what`, lstat'ed or fstat'ed) is not what the switch makes; empty when it is.
std::string untrusted(const std::filesystem::path& what, const struct stat& status, bool folder) {
    const std::string name = what.string();
    if (S_ISLNK(status.st_mode)) {
        return "refusing " + name + ": it is a link";
    }
    if (folder ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) {
        return "refusing " + name + (folder ? ": not a folder" : ": not a regular file");
    }
    if (!trustedOwner(status.st_uid)) {
        return "refusing " + name + ": owned by user " + std::to_string(status.st_uid);
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "refusing " + name + ": writable by group or others";
    }
    return {};
}

/// Empty when the record's folder is missing or one the switch made; why not otherwise.
std::string checkRecordFolder(const std::filesystem::path& folder, bool& exists) {
    struct stat status {};
    exists = ::lstat(folder.c_str(), &status) == 0;
    if (!exists) {
        return errno == ENOENT ? std::string()
                               : "cannot use " + folder.string() + ": " + std::strerror(errno);
    }
    return untrusted(folder, status, true);
}

/// Makes the record's folder 0755 where there is none, and checks whatever is there.
std::string prepareRecordFolder(const std::filesystem::path& folder) {
    std::error_code code;
    std::filesystem::create_directories(folder.parent_path(), code);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        return "cannot make " + folder.string() + ": " + std::strerror(errno);
    }
    bool exists = false;
    auto refusal = checkRecordFolder(folder, exists);
    if (refusal.empty() && !exists) {
        refusal = "cannot use " + folder.string() + ": it vanished";
    }
    return refusal;
}

std::vector<std::string> sleepTargetsNamedIn(std::string_view text) {
    std::vector<std::string_view> names;
    while (!text.empty()) {
        const auto end = text.find('\n');
        names.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    std::vector<std::string> units;
    for (std::string_view unit : sleepTargetUnits) {
        if (std::find(names.begin(), names.end(), unit) != names.end()) {
            units.emplace_back(unit);
        }
    }
    return units;
}

} // namespace

MaskRecord readOwnMaskRecord(const std::filesystem::path& root) {
    MaskRecord record;
    const auto path = ownMaskRecordPath(root);
    bool folderExists = false;
    record.refusal = checkRecordFolder(path.parent_path(), folderExists);
    if (!record.refusal.empty() || !folderExists) {
        return record;
    }
    // Non-blocking, so a FIFO cannot hold the open; no link is followed to a file elsewhere.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ELOOP) {
            record.refusal = "refusing " + path.string() + ": it is a link";
        } else if (errno != ENOENT) {
            record.refusal = "cannot read " + path.string() + ": " + std::strerror(errno);
        }
        return record;
    }
    record.present = true;
    struct stat status {};
    std::string text(longestRecord + 1, '\0');
    ssize_t count = -1;
    if (::fstat(fd, &status) != 0) {
        record.refusal = "cannot read " + path.string() + ": " + std::strerror(errno);
    } else if (record.refusal = untrusted(path, status, false); record.refusal.empty()) {
        count = ::pread(fd, text.data(), text.size(), 0);
        if (count < 0) {
            record.refusal = "cannot read " + path.string() + ": " + std::strerror(errno);
        } else if (static_cast<std::size_t>(count) > longestRecord) {
            record.refusal = "refusing " + path.string() + ": longer than any record it writes";
        }
    }
    ::close(fd);
    if (record.refusal.empty()) {
        text.resize(static_cast<std::size_t>(count));
        record.units = sleepTargetsNamedIn(text);
    }
    return record;
}

std::vector<std::string> ownMasksInPlace(const std::filesystem::path& root,
                                         const MaskRecord& record) {
    auto units = record.units;
    std::erase_if(units, [&](const std::string& unit) { return !hasRuntimeMaskLink(root, unit); });
    return units;
}

bool writeOwnMaskRecord(const std::filesystem::path& root, const std::vector<std::string>& units,
                        std::string& error) {
    const auto record = ownMaskRecordPath(root);
    const auto folder = record.parent_path();
    if (units.empty()) {
        bool exists = false;
        error = checkRecordFolder(folder, exists);
        if (!error.empty()) {
            return false;
        }
        if (exists && ::unlink(record.c_str()) != 0 && errno != ENOENT) {
            error = "cannot remove " + record.string() + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    // Written by root and read by the keep-awake helper: the folder must be one only root can
    // change, never a link somebody placed to redirect the write.
    error = prepareRecordFolder(folder);
    if (!error.empty()) {
        return false;
    }
    std::string text;
    for (const auto& unit : units) {
        if (isSleepTarget(unit)) {
            text += unit + "\n";
        }
    }
    using std::filesystem::perms;
    try {
        nodwarden::AtomicFile::write(record, text,
                                     perms::owner_read | perms::owner_write | perms::group_read |
                                         perms::others_read);
    } catch (const std::filesystem::filesystem_error& failure) {
        error = "cannot write " + record.string() + ": " + failure.code().message();
        return false;
    }
    return true;
}

std::filesystem::path unitLinkRoot() {
    const char* root = std::getenv("STAYLOOM_UNIT_ROOT");
    return root != nullptr && *root != '\0' ? std::filesystem::path(root)
                                            : std::filesystem::path("/");
}

} // namespace stayloom::helpers
