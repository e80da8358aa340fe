#pragma once

#include <array>
#include <filesystem>
#include <string_view>

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

/// True when at least one sleep target is masked: then some kind of sleep is switched off.
bool anySleepTargetMasked(const std::filesystem::path& root);

/// "masked-runtime", "masked" or "unmasked", as a listing shows it.
std::string_view describe(UnitMask mask);

/// The root the unit links are read from: "/" unless STAYLOOM_UNIT_ROOT names another folder.
/// The variable exists for tests; it only changes what is read, never what is masked.
std::filesystem::path unitLinkRoot();

} // namespace stayloom::helpers
