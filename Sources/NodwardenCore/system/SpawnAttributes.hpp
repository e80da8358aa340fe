#pragma once

#include <NodwardenCore/Export.hpp>

#include <spawn.h>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// What a spawned child inherits of this process's signal set-up.
enum class SpawnSignalPolicy {
    /// A child of ours that we stop and wait for (a system tool, the keep-awake helper): an empty
    /// signal mask and every signal at its default action, whatever this process blocks or
    /// ignores (the program routes SIGTERM, SIGINT and SIGHUP to its quit path), so SIGTERM and
    /// SIGINT always reach it.
    ownChild,
    /// The user's command run by `stayloom run`: SIGINT, SIGQUIT and SIGPIPE, which this process
    /// ignores while it waits, back at their default actions; everything else as the user's shell
    /// gave it (a hang-up ignored under nohup stays ignored, a blocked signal stays blocked).
    userCommand,
};

/// posix_spawn attributes set up for `policy`; owns and destroys them.
class SpawnAttributes {
public:
    explicit SpawnAttributes(SpawnSignalPolicy policy);
    ~SpawnAttributes();
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

} // namespace nodwarden
