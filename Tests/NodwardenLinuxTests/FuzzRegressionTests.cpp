// Inputs the fuzzers found that once broke a /proc or sysfs reader, replayed through the same
// entry points, each next to the plain case it stands for.
#include "../../Fuzz/FuzzInputs.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <NodwardenLinux/ProcTableReader.hpp>
#include <NodwardenLinux/SysfsPowerReader.hpp>
#include <NodwardenLinux/ThermalReader.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using nodwarden::ThermalState;
using namespace nodwarden::linuxplatform;
using namespace stayloom::testing;

constexpr long long largest = std::numeric_limits<long long>::max();

std::string regression(const std::string& name) {
    const auto bytes = readFile(fixturePath("fuzz-regressions/" + name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

TEST(FuzzRegression, ThermalZoneAtTheLargestTemperatureWithoutTrips) {
    const auto input = stayloom::fuzz::thermalInput(regression("thermal-temperature-at-limit.bin"));
    ASSERT_FALSE(input.zones.empty());
    ASSERT_EQ(input.zones.front().milliCelsius, largest);
    // No zone has a plausible trip, so nothing is hot and a held level steps all the way down.
    EXPECT_EQ(ThermalReader::classify(input.zones), ThermalState::nominal);
    EXPECT_EQ(ThermalReader::withHysteresis(input.zones, input.previous), ThermalState::nominal);
}

TEST(FuzzRegression, ThermalZoneAtTheLimitsStaysOnItsSideOfTheTrips) {
    const std::vector<ThermalZoneReading::Trip> trips = {{"critical", 105'000},
                                                         {"passive", 80'000}};
    const std::vector<ThermalZoneReading> hottest = {{"zone0", largest, trips}};
    EXPECT_EQ(ThermalReader::classify(hottest), ThermalState::critical);
    EXPECT_EQ(ThermalReader::withHysteresis(hottest, ThermalState::critical),
              ThermalState::critical);

    const std::vector<ThermalZoneReading> coldest = {
        {"zone0", std::numeric_limits<long long>::min(), trips}};
    EXPECT_EQ(ThermalReader::classify(coldest, -2500), ThermalState::nominal);
    EXPECT_EQ(ThermalReader::withHysteresis(coldest, ThermalState::critical),
              ThermalState::nominal);
}

TEST(FuzzRegression, StatLineWithAParentPastIntIsRefused) {
    const auto stat = ProcTableReader::parseStat(regression("proc-stat-parent-past-int.txt"));
    EXPECT_FALSE(stat.has_value());
}

TEST(FuzzRegression, StatLineIdsMustFitAProcessId) {
    const std::string tail = " 0 0 0 0 0 0 0 0 0 7 3 0 0 20 0 1 0 5511 0 0";
    struct Case {
        std::string ids;
        bool accepted;
    };
    for (const auto& [ids, accepted] : std::vector<Case>{
             {"4194304 (agent) S 4194303", true},
             {"2147483647 (agent) S 2147483647", true},
             {"4294967295 (agent) S 1", false},
             {"12 (agent) S 4294967295", false},
             {"12 (agent) S 18446744073709551615", false},
         }) {
        const auto stat = ProcTableReader::parseStat(ids + tail);
        EXPECT_EQ(stat.has_value(), accepted) << ids;
        if (stat) {
            EXPECT_GT(stat->pid, 0) << ids;
            EXPECT_GE(stat->parentPID, 0) << ids;
        }
    }
}

TEST(FuzzRegression, PowerSupplyTreeWithOverflowingChargeSums) {
    const TemporaryDirectory root;
    stayloom::fuzz::writePowerSupplyTree(root.path(),
                                         regression("power-supply-charge-sum-overflow.bin"));
    SysfsPowerReader reader(root.path());
    const auto snapshot = reader.snapshot();
    if (snapshot.batteryPercent) {
        EXPECT_GE(*snapshot.batteryPercent, 0);
        EXPECT_LE(*snapshot.batteryPercent, 100);
    }
}

TEST(FuzzRegression, EnergySumsPastTheLargestNumberFallBackToCapacity) {
    const TemporaryDirectory root;
    // Three batteries whose energy files sum past 2^63: wrapped, they would read as 6 %.
    const char* energyNow[] = {"8000000000000000000", "8000000000000000000", "3000000000000000000"};
    for (int index = 0; index < 3; ++index) {
        const std::string folder = "sys/class/power_supply/BAT" + std::to_string(index) + "/";
        root.write(folder + "type", "Battery\n");
        root.write(folder + "status", "Discharging\n");
        root.write(folder + "capacity", "70\n");
        root.write(folder + "energy_now", std::string(energyNow[index]) + "\n");
        root.write(folder + "energy_full", "9000000000000000000\n");
    }
    SysfsPowerReader reader(root.path());
    const auto snapshot = reader.snapshot();
    EXPECT_FALSE(snapshot.isOnACPower);
    EXPECT_EQ(snapshot.batteryPercent, 70);
}

} // namespace
