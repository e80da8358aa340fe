// sysfs power supplies: the attribute files of a few supplies, written into a fixture tree and
// read back through the reader, so both the file parsing and the summary see outside bytes.
#include "FuzzCheck.hpp"
#include "FuzzInputs.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <NodwardenLinux/SysfsPowerReader.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

/// In memory where the machine has it: a disk-backed tree makes each run a hundred times slower.
const fs::path& fixtureRoot() {
    static const stayloom::testing::TemporaryDirectory folder(
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    return folder.path();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    stayloom::fuzz::writePowerSupplyTree(fixtureRoot(),
                                         {reinterpret_cast<const char*>(data), size});
    nodwarden::linuxplatform::SysfsPowerReader reader(fixtureRoot());
    const auto snapshot = reader.snapshot();
    if (snapshot.batteryPercent) {
        STAYLOOM_FUZZ_CHECK(*snapshot.batteryPercent >= 0 && *snapshot.batteryPercent <= 100);
    }
    return 0;
}
