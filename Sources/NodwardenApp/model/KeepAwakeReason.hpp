#pragma once

#include <NodwardenCore/Models.hpp>

#include <string>

namespace nodwarden::app {

/// What the hold is for, in the words logind and the desktop list beside the lock: who is
/// working, or the mode that holds ("Claude Code is working", "Manual keep-awake").
std::string keepAwakeReason(AppMode mode, const GuardDecision& decision);

} // namespace nodwarden::app
