#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/LidStateProviding.hpp>

#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

class CommandRunning;
class FileLogger;
struct ShellCommand;

/// Lid position from the hardware registry's clamshell flag.
class LidStateDetector final : public LidStateProviding {
public:
    explicit LidStateDetector(CommandRunning& runner);
    LidStateDetector(CommandRunning& runner, FileLogger& logger);

    /// "/usr/sbin/ioreg" "-r" "-k" "AppleClamshellState" "-d" "1".
    static const ShellCommand& command();

    /// On any tool failure logs "LidStateDetector failed: <error>" and returns `unknown`.
    LidState lid() override;

    /// `closed` for AppleClamshellState = Yes, `open` for = No (any case), else `unknown`.
    static LidState parseIORegOutput(std::string_view text);

private:
    CommandRunning& runner_;
    FileLogger& logger_;
};

} // namespace nodwarden
