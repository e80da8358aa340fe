#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// One lock a keep-awake helper holds or wants: logind's, a desktop session's, or the X
/// server's own blanking.
struct KeepAwakeLock {
    /// The bus name of the service that grants it ("org.freedesktop.login1"), or "x11".
    std::string service;
    /// What it stops: "sleep", "sleep:idle", "suspend", "suspend|idle" or "idle".
    std::string kind;
    bool held = false;
    /// Whether the idle manager of this session heeds it.
    bool honoured = false;

    bool operator==(const KeepAwakeLock&) const = default;
};

/// What the running keep-awake helpers hold, as they report it.
struct KeepAwakeLocks {
    std::vector<KeepAwakeLock> locks;
    /// Why the machine may suspend despite them; empty when nothing known would.
    std::string warning;

    bool operator==(const KeepAwakeLocks&) const = default;

    /// A helper's report: "lock SERVICE KIND held|free honoured|ignored" and "warning TEXT"
    /// lines; other lines are skipped, as are malformed ones.
    static KeepAwakeLocks parse(std::string_view report);
    /// Adds `other`'s locks: one line a service and kind, held or honoured when either is; the
    /// first warning stays.
    void merge(const KeepAwakeLocks& other);
};

} // namespace nodwarden
