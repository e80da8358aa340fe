#pragma once

#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/GuardDecision.hpp>

#include <optional>
#include <string>

namespace nodwarden::app {

/// What the hold is for, in the words logind and the desktop list beside the lock: who is
/// working, or the mode that holds ("Claude Code is working", "Manual keep-awake", "Keeping awake
/// for 2 h" while a timed keep-awake of `timedSeconds` runs).
std::string keepAwakeReason(AppMode mode, const GuardDecision& decision,
                            std::optional<double> timedSeconds = std::nullopt);

/// A timed keep-awake's length as asked for, to the second: "2 h", "1 h 30 min", "1 min 30 s".
std::string keepAwakeLength(double seconds);

} // namespace nodwarden::app
