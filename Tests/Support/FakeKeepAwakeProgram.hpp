#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace stayloom::testing {

/// A shell script that stands in for the keep-awake tool: it runs until it is signalled and
/// appends what happens to it to a record file, one line per event ("start <pid> <arguments>",
/// "term <pid>"). Its command name is the script's file name, so a name containing
/// "caffeinate" passes the orphan check by command name.
class FakeKeepAwakeProgram {
public:
    enum class OnSIGTERM {
        exit,   ///< records the request and exits
        ignore, ///< records the request and keeps running, so only SIGKILL ends it
    };

    /// One recorded start.
    struct Start {
        std::int32_t pid = 0;
        std::string arguments;

        bool operator==(const Start&) const = default;
    };

    /// Writes the executable script `folder/name` and its record file beside it.
    FakeKeepAwakeProgram(const std::filesystem::path& folder, const std::string& name,
                         OnSIGTERM onSIGTERM = OnSIGTERM::exit);

    const std::filesystem::path& path() const { return path_; }

    /// Takes the script away from its path, or puts it back, to model the tool going missing.
    void setInstalled(bool installed) const;

    /// Every start recorded so far, in order.
    std::vector<Start> starts() const;
    /// Identifiers of the instances that recorded a SIGTERM, in order.
    std::vector<std::int32_t> terminationRequests() const;

    /// Waits, up to a generous bound, until `pid` has recorded its start; its arguments, or
    /// none when it never did.
    std::optional<std::string> waitForStart(std::int32_t pid) const;

private:
    std::vector<std::string> recordLines() const;

    std::filesystem::path path_;
    std::filesystem::path hiddenPath_;
    std::filesystem::path recordPath_;
};

/// Whether a process with this identifier exists, zombies included (so a child that was never
/// reaped still counts).
bool processExists(std::int32_t pid);

} // namespace stayloom::testing
