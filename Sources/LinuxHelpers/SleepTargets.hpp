#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace stayloom::helpers {

/// The units whose masking switches system sleep off; the helpers never touch any other unit.
inline constexpr std::array<std::string_view, 5> sleepTargetUnits{
    "sleep.target", "suspend.target", "hibernate.target", "hybrid-sleep.target",
    "suspend-then-hibernate.target"};

/// Where a unit's mask link lives, if it has one.
enum class UnitMask { none, runtime, persistent };

/// Reads whether `unit` is masked from its links below `root` (the real root outside tests), so
/// the answer does not depend on a running service manager.
UnitMask unitMask(const std::filesystem::path& root, std::string_view unit);

/// True when `unit` has a runtime mask link (/run/systemd/system/<unit> → /dev/null), whether or
/// not a unit file in /etc hides it.
bool hasRuntimeMaskLink(const std::filesystem::path& root, std::string_view unit);

/// "masked-runtime", "masked" or "unmasked", as a listing shows it.
std::string_view describe(UnitMask mask);

/// The record of the masks the sleep switch made. It lives in /run, root-owned, so it ends with
/// the boot exactly as the runtime masks it describes do. A mask that is not in the record is
/// someone else's: the switch never reports it as its own and never removes it.
std::filesystem::path ownMaskRecordPath(const std::filesystem::path& root);

/// What the record says, or why nothing it says can count.
struct MaskRecord {
    /// The sleep targets it names, in the order of `sleepTargetUnits`; other names are ignored.
    std::vector<std::string> units;
    /// Whether a record file is there at all; none is the state of a fresh boot.
    bool present = false;
    /// Why the folder or the file is not one the switch made (a link, a FIFO, another user's, open
    /// to writers other than its owner, too long); empty when the record can be trusted.
    std::string refusal;
};

/// Reads the record without ever blocking or following a link: only a regular file in a real
/// folder, both owned by root (or by the user reading them, whose own files they are) and writable
/// by nobody else, and at most a few kilobytes of it.
MaskRecord readOwnMaskRecord(const std::filesystem::path& root);

/// The masks of `record` whose runtime link is still there: what the switch has switched off.
std::vector<std::string> ownMasksInPlace(const std::filesystem::path& root,
                                         const MaskRecord& record);

/// Replaces the record with `units` (removing it when empty), atomically, first making its folder
/// 0755 where there is none; false with `error` filled in when it cannot, or when the folder found
/// there is not one the switch could have made.
bool writeOwnMaskRecord(const std::filesystem::path& root, const std::vector<std::string>& units,
                        std::string& error);

/// The root the unit links are read from: "/" unless STAYLOOM_UNIT_ROOT names another folder.
/// The variable exists for tests and is gone when the switch runs with administrator rights.
std::filesystem::path unitLinkRoot();

} // namespace stayloom::helpers
