#pragma once

#include <NodwardenCore/Models.hpp>
#include <NodwardenCore/PowerMonitor.hpp>

#include <filesystem>
#include <functional>
#include <optional>

namespace nodwarden::linuxplatform {

/// Lid position from the ACPI button files, else from logind's `LidClosed` property.
class LidSwitchReader final : public LidStateProviding {
public:
    /// Answers logind's `LidClosed`, or nothing when logind cannot be asked.
    using LogindLidQuery = std::function<std::optional<bool>()>;

    /// `logind` defaults to a system-bus query bounded to one second.
    explicit LidSwitchReader(std::filesystem::path root = "/",
                             LogindLidQuery logind = queryLogindLidClosed);

    LidState lid() override;

    /// Any lid reading "closed" wins; "open" otherwise; nothing readable gives no value.
    std::optional<LidState> readACPIButtons() const;

    /// Asks org.freedesktop.login1 on the system bus.
    static std::optional<bool> queryLogindLidClosed();

private:
    std::filesystem::path root_;
    LogindLidQuery logind_;
};

} // namespace nodwarden::linuxplatform
