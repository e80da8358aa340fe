#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/PowerState.hpp>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Reads the lid position. Never fails: an unreadable state is `LidState::unknown`.
class LidStateProviding {
public:
    virtual ~LidStateProviding() = default;
    virtual LidState lid() = 0;
};

} // namespace nodwarden
