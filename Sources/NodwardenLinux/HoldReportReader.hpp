#pragma once

#include <NodwardenCore/sleep/KeepAwakeLocks.hpp>

#include <filesystem>

namespace nodwarden::linuxplatform {

/// The locks every running keep-awake helper of this user reports, the program's own and those
/// of `stayloom run`: each writes $XDG_RUNTIME_DIR/stayloom/inhibit-PID.state while it holds. A
/// report whose helper is gone (killed outright) is removed; a folder that is not ours is not
/// read.
class HoldReportReader {
public:
    /// `runtimeFolder` is $XDG_RUNTIME_DIR; `procRoot` is where helpers are recognised.
    explicit HoldReportReader(const std::filesystem::path& runtimeFolder,
                              std::filesystem::path procRoot = "/proc");

    /// The merged reports; empty without a runtime folder or a running helper.
    KeepAwakeLocks read() const;

    /// $XDG_RUNTIME_DIR, or an empty path without one.
    static std::filesystem::path runtimeFolderFromEnvironment();

private:
    std::filesystem::path folder_;
    std::filesystem::path procRoot_;
};

} // namespace nodwarden::linuxplatform
