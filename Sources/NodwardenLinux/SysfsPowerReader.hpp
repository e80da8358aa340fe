#pragma once

#include <NodwardenCore/detection/PowerSnapshotProviding.hpp>
#include <NodwardenCore/model/PowerState.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::linuxplatform {

class UeventListener;

/// One entry of /sys/class/power_supply as read from its attribute files.
struct PowerSupplyReading {
    std::string name;
    std::string type;                  ///< Battery, Mains, USB, UPS, Wireless
    std::optional<long long> online;   ///< non-battery supplies: >0 when online
    std::optional<long long> present;  ///< batteries: 0 when the bay is empty
    std::string scope;                 ///< System, Device or Unknown; empty counts as System
    std::string status;                ///< Charging, Discharging, Full, "Not charging", Unknown
    std::optional<long long> capacity; ///< percent
    std::optional<long long> energyNow, energyFull, chargeNow, chargeFull;

    bool operator==(const PowerSupplyReading&) const = default;

    bool isBattery() const { return type == "Battery"; }
    /// A battery that powers the machine itself (not a mouse or headset) and is in its bay.
    bool isSystemBattery() const;
};

/// Power source and battery charge from sysfs, deciding mains versus battery the way systemd does.
///
/// The kernel announces a supply plugged in or out, and a battery starting or ending a charge, in
/// its power-supply uevents; while none arrived the last reading stands. A discharging system
/// battery is read every time, since not every battery announces each percent it loses. Without
/// events (a planted tree, a sandbox without netlink) every snapshot reads sysfs.
class SysfsPowerReader final : public PowerSnapshotProviding {
public:
    /// A failed reading is logged to `logger` when one is given. The kernel's events are
    /// listened to only for the machine's own sysfs (`root` "/").
    explicit SysfsPowerReader(const std::filesystem::path& root = "/",
                              FileLogger* logger = nullptr);
    /// With `events` telling when the supplies changed; none reads every time.
    SysfsPowerReader(std::filesystem::path root, FileLogger* logger,
                     std::unique_ptr<UeventListener> events);
    ~SysfsPowerReader() override;

    /// Every supply summarised, read now unless the events say nothing changed since the last
    /// reading. When sysfs cannot be read: not on mains, no charge, "Unable to read battery
    /// state", logged as "PowerMonitor failed: …".
    PowerSnapshot snapshot() override;

    /// Every supply below <root>/sys/class/power_supply, sorted by name. A missing class folder
    /// under a readable /sys/class is a machine without supplies, not a failure.
    std::vector<PowerSupplyReading> readSupplies(std::string* failure = nullptr) const;

    /// Mains if any non-battery supply is online; else battery if a system battery discharges;
    /// else mains (desktops, virtual machines, containers).
    static PowerSnapshot summarize(const std::vector<PowerSupplyReading>& supplies);

private:
    std::filesystem::path root_;
    FileLogger* logger_;
    std::unique_ptr<UeventListener> events_;
    /// The last reading, while it may stand until an event.
    std::optional<PowerSnapshot> last_;
};

} // namespace nodwarden::linuxplatform
