#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace nodwarden::linuxplatform {

/// How a Linux desktop program is known to the agent catalog.
struct LinuxAppIdentity {
    std::string bundleIdentifier; ///< a catalog identifier, or a Linux terminal's own identifier
    std::string name;             ///< the name the catalog expects
    bool operator==(const LinuxAppIdentity&) const = default;
};

/// Maps an executable, desktop-file or Flatpak id, or accessibility name to the catalog's
/// identifiers. Lookups ignore letter case and a ".desktop" suffix.
std::optional<LinuxAppIdentity> identityForLinuxName(std::string_view name);

/// The Linux names (executables, desktop-file and Flatpak ids) known for `bundleIdentifier`, in
/// the table's (alphabetical) order; the ways to look for its desktop entry.
std::vector<std::string> linuxNamesForBundleID(std::string_view bundleIdentifier);

/// Identifiers of the Linux terminals that expose their visible text to accessibility.
const std::set<std::string>& linuxTerminalBundleIDs();

} // namespace nodwarden::linuxplatform
