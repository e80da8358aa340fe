#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/PowerState.hpp>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Reads the machine's power source and battery charge. Never fails: an unreadable state is a
/// neutral snapshot.
class PowerSnapshotProviding {
public:
    virtual ~PowerSnapshotProviding() = default;
    virtual PowerSnapshot snapshot() = 0;
};

} // namespace nodwarden
