// /proc/PID/stat lines and /proc/PID/cmdline bytes.
#include "FuzzCheck.hpp"

#include <NodwardenLinux/ProcTableReader.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

using nodwarden::linuxplatform::ProcTableReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (const auto stat = ProcTableReader::parseStat(bytes)) {
        // A process table row keyed by a zero or negative id would name a process group or
        // every process to anything that signals it.
        STAYLOOM_FUZZ_CHECK(stat->pid > 0);
        STAYLOOM_FUZZ_CHECK(stat->parentPID >= 0);
        STAYLOOM_FUZZ_CHECK(stat->comm.size() < size);
    }
    const auto [argv0, arguments] = ProcTableReader::parseCmdline(bytes);
    STAYLOOM_FUZZ_CHECK(argv0.find('\0') == std::string::npos);
    STAYLOOM_FUZZ_CHECK(arguments.find('\0') == std::string::npos);
    STAYLOOM_FUZZ_CHECK(arguments.compare(0, argv0.size(), argv0) == 0);
    return 0;
}
