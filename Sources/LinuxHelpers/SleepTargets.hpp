#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace stayloom::helpers {

/// The units whose masking switches system sleep off; the helpers never touch any other unit.
inline constexpr std::array<std::string_view, 5> kSleepTargetUnits{
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

/// The sleep targets named in the record, in the order of `kSleepTargetUnits`; empty when there
/// is no record. Names that are not sleep targets are ignored.
std::vector<std::string> recordedOwnMasks(const std::filesystem::path& root);

/// The recorded masks whose runtime link is still there: what the switch has switched off.
std::vector<std::string> ownMasksInPlace(const std::filesystem::path& root);

/// Replaces the record with `units` (removing it when empty), atomically; false with `error`
/// filled in when it cannot.
bool writeOwnMaskRecord(const std::filesystem::path& root, const std::vector<std::string>& units,
                        std::string& error);

/// The root the unit links are read from: "/" unless STAYLOOM_UNIT_ROOT names another folder.
/// The variable exists for tests and is gone when the switch runs with administrator rights.
std::filesystem::path unitLinkRoot();

} // namespace stayloom::helpers
