#pragma once

#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>

#include <optional>
#include <string>

namespace nodwarden::app {

/// What the hold is for, in the words logind and the desktop list beside the lock: who is
/// working, or the mode that holds ("Claude Code is working", "Manual keep-awake", "Keeping awake
/// for 2 hours" while a timed keep-awake of `timedSeconds` runs).
std::string keepAwakeReason(AppMode mode, const GuardDecision& decision,
                            std::optional<double> timedSeconds = std::nullopt);

/// A timed keep-awake's length as asked for: "2 hours", "1 hour", "90 minutes", "1 minute".
std::string keepAwakeLength(double seconds);

} // namespace nodwarden::app
