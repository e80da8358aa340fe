#include <NodwardenLinux/LidSwitchReader.hpp>
#include <NodwardenLinux/ThermalReader.hpp>

#include "Support/ChildProcess.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <systemd/sd-bus.h>
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

TEST(LidSwitchReader, ReadsACPIButtonStateAndAnyClosedLidWins) {
    TemporaryDirectory root;
    root.write("proc/acpi/button/lid/LID0/state", "state:      open\n");
    int calls = 0;
    EXPECT_EQ(LidSwitchReader(root.path(), answering(true, &calls)).lid(), LidState::open);
    EXPECT_EQ(calls, 0) << "logind is only a fallback";

    root.write("proc/acpi/button/lid/LID1/state", "state:      closed\n");
    EXPECT_EQ(LidSwitchReader(root.path(), answering(false)).lid(), LidState::closed);
}

TEST(LidSwitchReader, FallsBackToLogindThenUnknown) {
    TemporaryDirectory root;
    root.write("proc/acpi/button/lid/LID0/state", "state:      unsupported\n");
    EXPECT_EQ(LidSwitchReader(root.path(), answering(true)).lid(), LidState::closed);
    EXPECT_EQ(LidSwitchReader(root.path(), answering(false)).lid(), LidState::open);
    EXPECT_EQ(LidSwitchReader(root.path(), answering(std::nullopt)).lid(), LidState::unknown);
    EXPECT_EQ(LidSwitchReader(root.path() / "missing", nullptr).lid(), LidState::unknown);
}

TEST(LidSwitchReader, LogindQueryWithoutSystemBusAnswersNothing) {
    // This machine (and CI) has no system bus; the query must give up rather than hang or throw.
    if (::access("/run/dbus/system_bus_socket", F_OK) == 0) {
        GTEST_SKIP() << "a system bus exists here; the no-bus path cannot be shown";
    }
    EXPECT_FALSE(LidSwitchReader::queryLogindLidClosed().has_value());
}

namespace {

/// A stand-in for logind on a private bus of its own, which DBUS_SYSTEM_BUS_ADDRESS names while
/// it lives: the Manager's `LidClosed`, which the test flips and announces as logind does, and
/// a count of the times a client read it.
class FakeLogindLid {
public:
    FakeLogindLid()
        : address_("unix:path=" + (folder_.path() / "bus").string()),
          daemon_({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + address_}) {
        // The socket's file appears when the daemon binds it, a moment before it listens: a
        // refused connection is tried again until the daemon answers.
        for (int attempt = 0; attempt < 200 && !connected(); ++attempt) {
            ::usleep(25'000);
        }
        if (bus_ == nullptr ||
            sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", vtable, this) < 0 ||
            sd_bus_request_name(bus_, "org.freedesktop.login1", 0) < 0) {
            return;
        }
        ready_ = true;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
        server_ = std::thread([this] { serve(); });
    }
    ~FakeLogindLid() {
        stop_ = true;
        if (server_.joinable()) {
            server_.join();
        }
        sd_bus_flush_close_unref(bus_);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    bool ready() const { return ready_; }

    int reads() const { return reads_; }
    /// Sets the lid and sends PropertiesChanged; returns once the signal has left.
    void announce(bool closed) {
        closed_ = closed;
        const int sent = announced_;
        pending_ = true;
        while (announced_ == sent) {
            std::this_thread::yield();
        }
    }

private:
    bool connected() {
        if (sd_bus_new(&bus_) >= 0 && sd_bus_set_address(bus_, address_.c_str()) >= 0 &&
            sd_bus_set_bus_client(bus_, 1) >= 0 && sd_bus_start(bus_) >= 0) {
            return true;
        }
        bus_ = sd_bus_flush_close_unref(bus_);
        return false;
    }

    static int lidClosed(sd_bus* bus, const char*, const char*, const char*, sd_bus_message* reply,
                         void* self, sd_bus_error*) {
        auto& fake = *static_cast<FakeLogindLid*>(self);
        // Called for a client's Get, and for the value a change signal carries.
        if (sd_bus_get_current_message(bus) != nullptr) {
            ++fake.reads_;
        }
        return sd_bus_message_append(reply, "b", static_cast<int>(fake.closed_.load()));
    }
    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("LidClosed", "b", lidClosed, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_VTABLE_END};

    void serve() {
        while (!stop_) {
            while (sd_bus_process(bus_, nullptr) > 0) {
            }
            if (pending_.exchange(false)) {
                sd_bus_emit_properties_changed(bus_, "/org/freedesktop/login1",
                                               "org.freedesktop.login1.Manager", "LidClosed",
                                               nullptr);
                sd_bus_flush(bus_);
                ++announced_;
            }
            sd_bus_wait(bus_, 10'000);
        }
    }

    TemporaryDirectory folder_;
    std::string address_;
    stayloom::testing::ChildProcess daemon_;
    sd_bus* bus_ = nullptr;
    bool ready_ = false;
    std::thread server_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> closed_{false};
    std::atomic<bool> pending_{false};
    std::atomic<int> announced_{0};
    std::atomic<int> reads_{0};
};

} // namespace

TEST(LidSwitchReader, LogindsLidChangeIsTakenFromItsSignalWithoutAskingEachPass) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon")) {
        GTEST_SKIP() << "BUS UNAVAILABLE: needs dbus-daemon";
    }
    FakeLogindLid logind;
    ASSERT_TRUE(logind.ready());
    TemporaryDirectory root; // no ACPI lid: logind speaks
    LidSwitchReader reader(root.path());
    EXPECT_EQ(reader.lid(), LidState::open);
    EXPECT_EQ(logind.reads(), 1);
    for (const bool closed : {true, false, true}) {
        logind.announce(closed);
        const LidState expected = closed ? LidState::closed : LidState::open;
        // The signal is in the bus's hands once sent; a pass takes in whatever has arrived.
        LidState seen = reader.lid();
        for (int pass = 0; pass < 200 && seen != expected; ++pass) {
            ::usleep(10'000);
            seen = reader.lid();
        }
        EXPECT_EQ(seen, expected);
    }
    EXPECT_EQ(logind.reads(), 1) << "the lid follows the signal, not a question per pass";
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

TEST(ThermalReader, ClassifiesAgainstTheZonesOwnTripsBeforeTheKernelActs) {
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

TEST(ThermalReader, IgnoresBogusTripsAndTakesTheWorstZone) {
    const ThermalZoneReading bogus{
        "thermal_zone1", 50000, {{"critical", 0}, {"hot", 255000}, {"passive", -1}}};
    EXPECT_EQ(ThermalReader::classify({bogus}), ThermalState::nominal);
    EXPECT_EQ(ThermalReader::classify({bogus, zone(95000)}), ThermalState::serious);
    EXPECT_EQ(ThermalReader::classify({}), ThermalState::nominal);
}

TEST(ThermalReader, StepsDownOnlyPastTheHysteresis) {
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

TEST(ThermalReader, ReadsZonesFromSysfsAndSkipsUnreadableOnes) {
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

TEST(ThermalReader, FarFromEveryTripReadsSeldomAndNearOneEveryCall) {
    TemporaryDirectory root;
    addZone(root, "thermal_zone0", 40000, {{"passive", 90000}, {"critical", 105000}});
    ThermalReader reader(root.path());
    EXPECT_EQ(reader.thermalState(), ThermalState::nominal);
    // 40 °C is 40 °C below the fair level: a jump to the passive trip waits for the next reading.
    root.write("sys/class/thermal/thermal_zone0/temp", "91000\n");
    int calls = 1;
    while (reader.thermalState() == ThermalState::nominal) {
        ASSERT_LT(++calls, ThermalReader::callsPerReadingWhileFar + 1) << "never read again";
    }
    EXPECT_EQ(calls, ThermalReader::callsPerReadingWhileFar) << "far from the trips, read seldom";

    // Within 15 °C of the fair level every call reads.
    root.write("sys/class/thermal/thermal_zone0/temp", "70000\n");
    for (int call = 0; reader.thermalState() != ThermalState::nominal; ++call) {
        ASSERT_LT(call, ThermalReader::callsPerReadingWhileFar) << "never cooled down";
    }
    root.write("sys/class/thermal/thermal_zone0/temp", "81000\n");
    EXPECT_EQ(reader.thermalState(), ThermalState::fair) << "near a trip, the next call reads";
}
