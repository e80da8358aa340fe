#include <NodwardenLinux/LidSwitchReader.hpp>
#include <NodwardenLinux/ThermalReader.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;
using stayloom::testing::TemporaryDirectory;

namespace {
LidSwitchReader::LogindLidQuery answering(std::optional<bool> value, int* calls = nullptr) {
    return [value, calls] {
        if (calls) {
            ++*calls;
        }
        return value;
    };
}
} // namespace

TEST(LidSwitchReaderTests, ReadsACPIButtonStateAndAnyClosedLidWins) {
    TemporaryDirectory root;
    root.write("proc/acpi/button/lid/LID0/state", "state:      open\n");
    int calls = 0;
    EXPECT_EQ(LidSwitchReader(root.path(), answering(true, &calls)).lid(), LidState::open);
    EXPECT_EQ(calls, 0) << "logind is only a fallback";

    root.write("proc/acpi/button/lid/LID1/state", "state:      closed\n");
    EXPECT_EQ(LidSwitchReader(root.path(), answering(false)).lid(), LidState::closed);
}

TEST(LidSwitchReaderTests, FallsBackToLogindThenUnknown) {
    TemporaryDirectory root;
    root.write("proc/acpi/button/lid/LID0/state", "state:      unsupported\n");
    EXPECT_EQ(LidSwitchReader(root.path(), answering(true)).lid(), LidState::closed);
    EXPECT_EQ(LidSwitchReader(root.path(), answering(false)).lid(), LidState::open);
    EXPECT_EQ(LidSwitchReader(root.path(), answering(std::nullopt)).lid(), LidState::unknown);
    EXPECT_EQ(LidSwitchReader(root.path() / "missing", nullptr).lid(), LidState::unknown);
}

TEST(LidSwitchReaderTests, LogindQueryWithoutSystemBusAnswersNothing) {
    // This machine (and CI) has no system bus; the query must give up rather than hang or throw.
    if (::access("/run/dbus/system_bus_socket", F_OK) == 0) {
        GTEST_SKIP() << "a system bus exists here; the no-bus path cannot be shown";
    }
    EXPECT_FALSE(LidSwitchReader::queryLogindLidClosed().has_value());
}

namespace {
void addZone(const TemporaryDirectory& root, const std::string& zone, long long temp,
             const std::vector<std::pair<std::string, long long>>& trips) {
    root.write("sys/class/thermal/" + zone + "/temp", std::to_string(temp) + "\n");
    for (size_t i = 0; i < trips.size(); ++i) {
        const auto prefix = "sys/class/thermal/" + zone + "/trip_point_" + std::to_string(i);
        root.write(prefix + "_type", trips[i].first + "\n");
        root.write(prefix + "_temp", std::to_string(trips[i].second) + "\n");
    }
}

ThermalZoneReading zone(long long temp) {
    return {"thermal_zone0",
            temp,
            {{"passive", 90000}, {"hot", 100000}, {"critical", 105000}, {"active", 60000}}};
}
} // namespace

TEST(ThermalReaderTests, ClassifiesAgainstTheZonesOwnTripsBeforeTheKernelActs) {
    // The kernel throttles at passive (90), may hibernate at hot (100) and powers off at critical
    // (105): critical must be reported before the machine gets there.
    struct Case {
        long long temp;
        ThermalState expected;
    };
    for (const auto& [temp, expected] : std::vector<Case>{{45000, ThermalState::nominal},
                                                          {59999, ThermalState::nominal},
                                                          {60000, ThermalState::fair},
                                                          {80000, ThermalState::fair},
                                                          {90000, ThermalState::serious},
                                                          {99999, ThermalState::serious},
                                                          {100000, ThermalState::critical},
                                                          {105000, ThermalState::critical},
                                                          {130000, ThermalState::critical}}) {
        EXPECT_EQ(ThermalReader::classify({zone(temp)}), expected) << temp;
    }
    // A zone with only a critical trip, as many boards have, warns 5 °C before it.
    const auto criticalOnly = [](long long temp) {
        return ThermalZoneReading{"thermal_zone3", temp, {{"critical", 105000}}};
    };
    EXPECT_EQ(ThermalReader::classify({criticalOnly(99999)}), ThermalState::nominal);
    EXPECT_EQ(ThermalReader::classify({criticalOnly(100000)}), ThermalState::critical);
    // Passive alone: fair 10 °C below it; several active trips: the lowest counts.
    const ThermalZoneReading passiveOnly{"thermal_zone4", 75000, {{"passive", 85000}}};
    EXPECT_EQ(ThermalReader::classify({passiveOnly}), ThermalState::fair);
    const ThermalZoneReading fans{
        "thermal_zone5", 56000, {{"active1", 70000}, {"active0", 55000}, {"critical", 120000}}};
    EXPECT_EQ(ThermalReader::classify({fans}), ThermalState::fair);
}

TEST(ThermalReaderTests, IgnoresBogusTripsAndTakesTheWorstZone) {
    const ThermalZoneReading bogus{
        "thermal_zone1", 50000, {{"critical", 0}, {"hot", 255000}, {"passive", -1}}};
    EXPECT_EQ(ThermalReader::classify({bogus}), ThermalState::nominal);
    EXPECT_EQ(ThermalReader::classify({bogus, zone(95000)}), ThermalState::serious);
    EXPECT_EQ(ThermalReader::classify({}), ThermalState::nominal);
}

TEST(ThermalReaderTests, StepsDownOnlyPastTheHysteresis) {
    EXPECT_EQ(ThermalReader::withHysteresis({zone(98000)}, ThermalState::critical),
              ThermalState::critical)
        << "2 °C below the hot trip is within the 2.5 °C hysteresis";
    EXPECT_EQ(ThermalReader::withHysteresis({zone(97000)}, ThermalState::critical),
              ThermalState::serious);
    EXPECT_EQ(ThermalReader::withHysteresis({zone(88000)}, ThermalState::serious),
              ThermalState::serious);
    EXPECT_EQ(ThermalReader::withHysteresis({zone(50000)}, ThermalState::critical),
              ThermalState::nominal);
    EXPECT_EQ(ThermalReader::withHysteresis({zone(101000)}, ThermalState::nominal),
              ThermalState::critical)
        << "rising is never delayed";
}

TEST(ThermalReaderTests, ReadsZonesFromSysfsAndSkipsUnreadableOnes) {
    TemporaryDirectory root;
    addZone(root, "thermal_zone0", 101000, {{"passive", 90000}, {"hot", 100000}});
    addZone(root, "thermal_zone1", 30000, {});
    root.write("sys/class/thermal/thermal_zone2/temp", "not a number\n");
    root.write("sys/class/thermal/cooling_device0/cur_state", "3\n");
    ThermalReader reader(root.path());
    const auto zones = reader.readZones();
    ASSERT_EQ(zones.size(), 2u);
    EXPECT_EQ(zones[0].trips.size(), 2u);
    EXPECT_EQ(reader.thermalState(), ThermalState::critical);

    root.write("sys/class/thermal/thermal_zone0/temp", "99000\n");
    EXPECT_EQ(reader.thermalState(), ThermalState::critical) << "held by hysteresis";
    root.write("sys/class/thermal/thermal_zone0/temp", "40000\n");
    EXPECT_EQ(reader.thermalState(), ThermalState::nominal);
    EXPECT_EQ(ThermalReader(root.path() / "none").thermalState(), ThermalState::nominal);
}
