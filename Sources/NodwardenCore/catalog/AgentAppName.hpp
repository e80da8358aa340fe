#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Helpers that normalise application and process names, match user-named target applications
/// and shorten signal reasons for display. Letter case is compared with full Unicode folding.
namespace AgentAppName {

/// Case folded, without " desktop" and ".app", trimmed: the form in which names are compared.
std::string normalized(std::string_view name);

/// True when the normalised `name` and the normalised, non-empty `target` contain one another.
/// Deliberately loose: the process "code" matches the target "Visual Studio Code".
bool matches(std::string_view name, std::string_view target);
/// `matches` for a name and a target both already in `normalized` form, so that a target
/// checked against many names is normalised once.
bool matchesNormalized(std::string_view normalizedName, std::string_view normalizedTarget);

/// The family name of a well-known application ("Google Chrome Helper" -> "Google Chrome");
/// otherwise `name` without its " Helper" suffixes.
std::string canonical(std::string_view name);

/// True for helper processes that never indicate agent work (crash reporters, updaters,
/// renderers of applications that are not agents).
bool isNoisy(std::string_view name);

/// True for browsers, whose windows show so much text that only multi-word phrases count.
bool requiresMultiWordPhrases(std::string_view name);

/// True when CPU use of the named application may count as work.
bool canUseCPUSignal(std::string_view name);

/// A short form of a signal reason for an agent row ("Target app Zed is running" -> "Zed
/// running").
std::string cleanedReason(std::string_view reason);

} // namespace AgentAppName
} // namespace nodwarden
