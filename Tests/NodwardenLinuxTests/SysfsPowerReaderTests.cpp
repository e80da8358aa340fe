#include <NodwardenLinux/SysfsPowerReader.hpp>

#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenLinux/UeventListener.hpp>

#include "Support/LoggedMessages.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include <sys/socket.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::linuxplatform;
using stayloom::testing::loggedMessages;
using stayloom::testing::TemporaryDirectory;

namespace {

using Attributes = std::map<std::string, std::string>;

void addSupply(const TemporaryDirectory& root, const std::string& name,
               const Attributes& attributes) {
    for (const auto& [key, value] : attributes) {
        root.write(std::string("sys/class/power_supply/").append(name).append("/").append(key),
                   value + "\n");
    }
}

struct PowerCase {
    const char* label;
    std::map<std::string, Attributes> supplies;
    bool onAC;
    std::optional<int> percent;
};

// CTest lists each case by this text rather than by its bytes.
void PrintTo(const PowerCase& example, std::ostream* out) {
    *out << example.label;
}

class SysfsPowerReaderCases : public ::testing::TestWithParam<PowerCase> {};

} // namespace

TEST_P(SysfsPowerReaderCases, SummarisesLikeSystemd) {
    const auto& c = GetParam();
    TemporaryDirectory root;
    std::filesystem::create_directories(root.path() / "sys/class/power_supply");
    for (const auto& [name, attributes] : c.supplies) {
        addSupply(root, name, attributes);
    }
    const auto snapshot = SysfsPowerReader(root.path()).snapshot();
    EXPECT_EQ(snapshot.isOnACPower, c.onAC) << c.label;
    EXPECT_EQ(snapshot.batteryPercent, c.percent) << c.label;
    EXPECT_FALSE(snapshot.rawDescription.empty()) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, SysfsPowerReaderCases,
    ::testing::Values(
        PowerCase{"laptop on battery",
                  {{"AC", {{"type", "Mains"}, {"online", "0"}}},
                   {"BAT0",
                    {{"type", "Battery"},
                     {"present", "1"},
                     {"status", "Discharging"},
                     {"capacity", "57"}}}},
                  false,
                  57},
        PowerCase{"laptop charging on mains",
                  {{"ADP1", {{"type", "Mains"}, {"online", "1"}}},
                   {"BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "80"}}}},
                  true,
                  80},
        PowerCase{"desktop without battery", {}, true, std::nullopt},
        PowerCase{"desktop whose only battery is a mouse",
                  {{"hidpp_battery_0",
                    {{"type", "Battery"},
                     {"scope", "Device"},
                     {"status", "Discharging"},
                     {"capacity", "12"}}}},
                  true,
                  std::nullopt},
        PowerCase{"two batteries use energy sums, not the mean",
                  {{"BAT0",
                    {{"type", "Battery"},
                     {"status", "Discharging"},
                     {"capacity", "100"},
                     {"energy_now", "20000000"},
                     {"energy_full", "20000000"}}},
                   {"BAT1",
                    {{"type", "Battery"},
                     {"status", "Discharging"},
                     {"capacity", "0"},
                     {"energy_now", "0"},
                     {"energy_full", "60000000"}}}},
                  false,
                  25},
        PowerCase{"two batteries without energy files average their capacity",
                  {{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "90"}}},
                   {"BAT1", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "30"}}}},
                  false,
                  60},
        PowerCase{"empty battery bay is ignored",
                  {{"BAT0",
                    {{"type", "Battery"},
                     {"present", "0"},
                     {"status", "Discharging"},
                     {"capacity", "5"}}}},
                  true,
                  std::nullopt},
        PowerCase{"garbage capacity is rejected, not reported",
                  {{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "250"}}}},
                  false,
                  std::nullopt},
        PowerCase{
            "non-numeric capacity is rejected",
            {{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "lots"}}}},
            false,
            std::nullopt},
        PowerCase{"USB supply online counts as mains",
                  {{"ucsi-source-psy-1", {{"type", "USB"}, {"online", "1"}}},
                   {"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "40"}}}},
                  true,
                  40},
        PowerCase{"full battery with mains missing reads as mains (not discharging)",
                  {{"BAT0", {{"type", "Battery"}, {"status", "Full"}, {"capacity", "100"}}}},
                  true,
                  100}),
    // The label, as letters and digits, names the test, so CTest lists the machine, not its bytes.
    [](const ::testing::TestParamInfo<PowerCase>& parameter) {
        std::string name;
        bool upper = true;
        for (const char* c = parameter.param.label; *c != '\0'; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c)) != 0) {
                name +=
                    upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
                upper = false;
            } else {
                upper = true;
            }
        }
        return name;
    });

TEST(SysfsPowerReader, NoSuppliesIsMainsButUnreadableSysfsIsAFailure) {
    // (fixture, on mains, description, logged) — a machine without supplies is a desktop; a
    // sysfs that cannot be read says nothing about the power source.
    struct Case {
        const char* name;
        std::function<void(const TemporaryDirectory&)> prepare;
        bool onAC;
        std::string description;
        bool logged;
    };
    const std::vector<Case> cases{
        {"no power supply class under a readable /sys/class",
         [](const TemporaryDirectory& root) { root.write("sys/class/thermal/.keep", ""); }, true,
         "Now drawing from 'AC Power' (no battery)", false},
        {"no sysfs at all", [](const TemporaryDirectory&) {}, false, "Unable to read battery state",
         true},
        {"the class folder is not a folder",
         [](const TemporaryDirectory& root) { root.write("sys/class/power_supply", "x"); }, false,
         "Unable to read battery state", true},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TemporaryDirectory root;
        testCase.prepare(root);
        FileLogger logger(root.path() / "log" / "Nodwarden.log");
        const auto snapshot = SysfsPowerReader(root.path(), &logger).snapshot();
        EXPECT_EQ(snapshot.isOnACPower, testCase.onAC);
        EXPECT_FALSE(snapshot.batteryPercent.has_value());
        EXPECT_EQ(snapshot.rawDescription, testCase.description);
        const auto messages = loggedMessages(logger);
        if (testCase.logged) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].rfind("PowerMonitor failed: cannot list ", 0), 0u) << messages[0];
        } else {
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST(SysfsPowerReader, DescriptionNamesTheSourceLikeTheMacTool) {
    TemporaryDirectory root;
    addSupply(root, "BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "42"}});
    const auto snapshot = SysfsPowerReader(root.path()).snapshot();
    EXPECT_NE(snapshot.rawDescription.find("'Battery Power'"), std::string::npos);
    EXPECT_NE(snapshot.rawDescription.find("BAT0 42%"), std::string::npos);
}

namespace {
/// Sends one message in the kernel's uevent format down `socket`.
void announce(int socket, const std::string& subsystem) {
    std::string message;
    for (const std::string& field :
         {std::string("change@/devices/LNXSYSTM:00/ACPI0003:00/power_supply/AC"),
          std::string("ACTION=change"), "SUBSYSTEM=" + subsystem,
          std::string("POWER_SUPPLY_NAME=AC")}) {
        message += field;
        message += '\0';
    }
    ASSERT_EQ(::send(socket, message.data(), message.size(), 0),
              static_cast<ssize_t>(message.size()));
}
} // namespace

TEST(SysfsPowerReader, ReadsAgainWhenTheKernelAnnouncesASupplyChangeAndOnBatteryEveryTime) {
    TemporaryDirectory root;
    addSupply(root, "AC", {{"type", "Mains"}, {"online", "1"}});
    addSupply(root, "BAT0", {{"type", "Battery"}, {"status", "Full"}, {"capacity", "100"}});
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sockets), 0);
    SysfsPowerReader reader(root.path(), nullptr,
                            std::make_unique<UeventListener>(sockets[0], "power_supply"));
    EXPECT_TRUE(reader.snapshot().isOnACPower);

    // Unplugged: the files change, and the kernel says so only in its event.
    addSupply(root, "AC", {{"online", "0"}});
    addSupply(root, "BAT0", {{"status", "Discharging"}, {"capacity", "99"}});
    EXPECT_TRUE(reader.snapshot().isOnACPower) << "nothing announced: the last reading stands";
    announce(sockets[1], "thermal");
    EXPECT_TRUE(reader.snapshot().isOnACPower) << "another subsystem's event";
    announce(sockets[1], "power_supply");
    const auto unplugged = reader.snapshot();
    EXPECT_FALSE(unplugged.isOnACPower) << "the pass after the event reads sysfs";
    EXPECT_EQ(unplugged.batteryPercent, 99);

    // A discharging battery need not announce each percent it loses.
    addSupply(root, "BAT0", {{"capacity", "98"}});
    EXPECT_EQ(reader.snapshot().batteryPercent, 98);
    ::close(sockets[1]);

    // Without events (a planted tree, no netlink) every snapshot reads.
    SysfsPowerReader planted(root.path());
    EXPECT_FALSE(planted.snapshot().isOnACPower);
    addSupply(root, "AC", {{"online", "1"}});
    addSupply(root, "BAT0", {{"status", "Charging"}});
    EXPECT_TRUE(planted.snapshot().isOnACPower);
    addSupply(root, "AC", {{"online", "0"}});
    addSupply(root, "BAT0", {{"status", "Discharging"}});
    EXPECT_FALSE(planted.snapshot().isOnACPower);
}
