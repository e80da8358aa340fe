#include <NodwardenLinux/SysfsPowerReader.hpp>

#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenLinux/SysfsText.hpp>
#include <NodwardenLinux/UeventListener.hpp>

#include <algorithm>
#include <cmath>
#include <system_error>

namespace nodwarden::linuxplatform {

namespace {

std::string readText(const std::filesystem::path& folder, const char* attribute) {
    return readTrimmedFile(folder / attribute).value_or(std::string());
}

std::optional<int> percentFromPair(const std::vector<const PowerSupplyReading*>& batteries,
                                   std::optional<long long> PowerSupplyReading::*now,
                                   std::optional<long long> PowerSupplyReading::*full) {
    long long sumNow = 0;
    long long sumFull = 0;
    for (const auto* battery : batteries) {
        const auto& n = battery->*now;
        const auto& f = battery->*full;
        if (!n || !f || *n < 0 || *f <= 0) {
            return std::nullopt; // mixing batteries with and without the pair would skew the sum
        }
        // No real battery holds sums near 2^63; a file that claims one is not a reading.
        if (__builtin_add_overflow(sumNow, *n, &sumNow) ||
            __builtin_add_overflow(sumFull, *f, &sumFull)) {
            return std::nullopt;
        }
    }
    if (sumFull <= 0) {
        return std::nullopt;
    }
    const double percent = 100.0 * static_cast<double>(sumNow) / static_cast<double>(sumFull);
    if (percent < 0.0 || percent > 100.5) {
        return std::nullopt;
    }
    return std::min(100, static_cast<int>(std::lround(percent)));
}

std::optional<int> meanCapacity(const std::vector<const PowerSupplyReading*>& batteries) {
    long long sum = 0;
    int count = 0;
    for (const auto* battery : batteries) {
        if (battery->capacity && *battery->capacity >= 0 && *battery->capacity <= 100) {
            sum += *battery->capacity;
            ++count;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    return static_cast<int>(std::lround(static_cast<double>(sum) / count));
}

} // namespace

bool PowerSupplyReading::isSystemBattery() const {
    return isBattery() && present.value_or(1) != 0 && scope != "Device";
}

SysfsPowerReader::SysfsPowerReader(const std::filesystem::path& root, FileLogger* logger)
    : SysfsPowerReader(root, logger,
                       root == "/" ? UeventListener::kernel("power_supply") : nullptr) {}

SysfsPowerReader::SysfsPowerReader(std::filesystem::path root, FileLogger* logger,
                                   std::unique_ptr<UeventListener> events)
    : root_(std::move(root)), logger_(logger), events_(std::move(events)) {}

SysfsPowerReader::~SysfsPowerReader() = default;

std::vector<PowerSupplyReading> SysfsPowerReader::readSupplies(std::string* failure) const {
    std::vector<PowerSupplyReading> supplies;
    const auto base = underRoot(root_, "/sys/class/power_supply");
    std::error_code error;
    std::filesystem::directory_iterator it(base, error);
    if (error && failure != nullptr) {
        std::error_code ignored;
        const bool classesReadable = std::filesystem::is_directory(base.parent_path(), ignored);
        if (error != std::errc::no_such_file_or_directory || !classesReadable) {
            *failure = "cannot list " + base.string() + ": " + error.message();
        }
    }
    for (std::filesystem::directory_iterator end; !error && it != end; it.increment(error)) {
        const auto& folder = it->path();
        PowerSupplyReading reading;
        reading.name = folder.filename().string();
        reading.type = readText(folder, "type");
        if (reading.type.empty()) {
            continue; // not a supply (or it vanished while we read)
        }
        reading.online = readIntegerFile(folder / "online");
        reading.present = readIntegerFile(folder / "present");
        reading.scope = readText(folder, "scope");
        reading.status = readText(folder, "status");
        reading.capacity = readIntegerFile(folder / "capacity");
        reading.energyNow = readIntegerFile(folder / "energy_now");
        reading.energyFull = readIntegerFile(folder / "energy_full");
        reading.chargeNow = readIntegerFile(folder / "charge_now");
        reading.chargeFull = readIntegerFile(folder / "charge_full");
        supplies.push_back(std::move(reading));
    }
    std::sort(supplies.begin(), supplies.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return supplies;
}

PowerSnapshot SysfsPowerReader::summarize(const std::vector<PowerSupplyReading>& supplies) {
    bool mainsOnline = false;
    bool discharging = false;
    std::vector<const PowerSupplyReading*> batteries;
    std::string description;
    for (const auto& supply : supplies) {
        if (!supply.isBattery()) {
            if (supply.online.value_or(0) > 0) {
                mainsOnline = true;
                description += supply.name + " (" + supply.type + ") online; ";
            }
            continue;
        }
        if (!supply.isSystemBattery()) {
            continue; // a mouse or headset battery says nothing about the machine
        }
        batteries.push_back(&supply);
        if (supply.status == "Discharging") {
            discharging = true;
        }
    }

    std::optional<int> percent;
    if (!batteries.empty()) {
        percent = percentFromPair(batteries, &PowerSupplyReading::energyNow,
                                  &PowerSupplyReading::energyFull);
        if (!percent) {
            percent = percentFromPair(batteries, &PowerSupplyReading::chargeNow,
                                      &PowerSupplyReading::chargeFull);
        }
        if (!percent) {
            percent = meanCapacity(batteries);
        }
    }
    for (const auto* battery : batteries) {
        description += battery->name + " " +
                       (battery->capacity ? std::to_string(*battery->capacity) + "%" : "?%") + " " +
                       (battery->status.empty() ? "Unknown" : battery->status) + "; ";
    }

    const bool onAC = mainsOnline || !discharging;
    std::string source = onAC ? "Now drawing from 'AC Power'" : "Now drawing from 'Battery Power'";
    if (!description.empty()) {
        description.resize(description.size() - 2); // drop the last "; "
        source += " (" + description + ")";
    } else if (batteries.empty()) {
        source += " (no battery)";
    }
    return PowerSnapshot{onAC, percent, source};
}

PowerSnapshot SysfsPowerReader::snapshot() {
    // Asked every time, so the events that arrived are taken in even when they change nothing.
    const bool announced = events_ && events_->changedSinceLastAsked();
    if (events_ && last_ && !announced) {
        return *last_;
    }
    last_.reset();
    std::string failure;
    auto supplies = readSupplies(&failure);
    if (!failure.empty()) {
        if (logger_ != nullptr) {
            logger_->log("PowerMonitor failed: " + failure);
        }
        return PowerSnapshot{false, std::nullopt, "Unable to read battery state"};
    }
    const bool discharging = std::any_of(supplies.begin(), supplies.end(), [](const auto& supply) {
        return supply.isSystemBattery() && supply.status == "Discharging";
    });
    auto snapshot = summarize(supplies);
    if (!discharging) {
        last_ = snapshot;
    }
    return snapshot;
}

} // namespace nodwarden::linuxplatform
