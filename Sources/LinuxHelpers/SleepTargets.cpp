#include "SleepTargets.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
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
    return std::find(kSleepTargetUnits.begin(), kSleepTargetUnits.end(), name) !=
           kSleepTargetUnits.end();
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

std::vector<std::string> recordedOwnMasks(const std::filesystem::path& root) {
    std::ifstream input(ownMaskRecordPath(root));
    std::vector<std::string> names;
    for (std::string line; std::getline(input, line);) {
        names.push_back(line);
    }
    std::vector<std::string> units;
    for (std::string_view unit : kSleepTargetUnits) {
        if (std::find(names.begin(), names.end(), unit) != names.end()) {
            units.emplace_back(unit);
        }
    }
    return units;
}

std::vector<std::string> ownMasksInPlace(const std::filesystem::path& root) {
    auto units = recordedOwnMasks(root);
    std::erase_if(units, [&](const std::string& unit) { return !hasRuntimeMaskLink(root, unit); });
    return units;
}

bool writeOwnMaskRecord(const std::filesystem::path& root, const std::vector<std::string>& units,
                        std::string& error) {
    const auto record = ownMaskRecordPath(root);
    std::error_code code;
    if (units.empty()) {
        std::filesystem::remove(record, code);
        if (code) {
            error = "cannot remove " + record.string() + ": " + code.message();
            return false;
        }
        return true;
    }
    const auto folder = record.parent_path();
    std::filesystem::create_directories(folder, code);
    // Written by root and read by the keep-awake helper: the folder must be a real one, never a
    // link somebody placed to redirect the write.
    if (code || !std::filesystem::is_directory(std::filesystem::symlink_status(folder, code))) {
        error = "cannot use " + folder.string() + ": " +
                (code ? code.message() : std::string("not a folder"));
        return false;
    }
    std::string text;
    for (const auto& unit : units) {
        if (isSleepTarget(unit)) {
            text += unit + "\n";
        }
    }
    std::string temporary = record.string() + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot write " + record.string() + ": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0644);
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), record.c_str()) != 0) {
        error = "cannot write " + record.string() + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
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
