#pragma once

#include <NodwardenCore/detection/LidStateProviding.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <filesystem>
#include <functional>
#include <optional>

namespace nodwarden::linuxplatform {

/// Lid position from the ACPI button files, else from logind's `LidClosed` property.
class LidSwitchReader final : public LidStateProviding {
public:
    /// Answers logind's `LidClosed`, or nothing when logind cannot be asked.
    using LogindLidQuery = std::function<std::optional<bool>()>;

    /// `logind` defaults to logind's property as its change signals tell it.
    explicit LidSwitchReader(std::filesystem::path root = "/",
                             LogindLidQuery logind = queryLogindLidClosed);

    LidState lid() override;

    /// Any lid reading "closed" wins; "open" otherwise; nothing readable gives no value.
    std::optional<LidState> readACPIButtons() const;

    /// org.freedesktop.login1's `LidClosed` on the system bus: read once over the calling
    /// thread's kept connection, then followed by its PropertiesChanged signals, which are taken
    /// in at the next call. Calls are bounded to one second.
    static std::optional<bool> queryLogindLidClosed();

private:
    std::filesystem::path root_;
    LogindLidQuery logind_;
};

} // namespace nodwarden::linuxplatform
