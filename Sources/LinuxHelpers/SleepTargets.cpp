#include "SleepTargets.hpp"

#include <algorithm>
#include <cstdlib>
#include <system_error>

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
    return inspect(root / "run/systemd/system" / unit) == UnitEntry::maskLink ? UnitMask::runtime
                                                                              : UnitMask::none;
}

bool anySleepTargetMasked(const std::filesystem::path& root) {
    return std::any_of(
        kSleepTargetUnits.begin(), kSleepTargetUnits.end(),
        [&](std::string_view unit) { return unitMask(root, unit) != UnitMask::none; });
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

std::filesystem::path unitLinkRoot() {
    const char* root = std::getenv("STAYLOOM_UNIT_ROOT");
    return root != nullptr && *root != '\0' ? std::filesystem::path(root)
                                            : std::filesystem::path("/");
}

} // namespace stayloom::helpers
