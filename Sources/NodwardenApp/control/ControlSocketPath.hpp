#pragma once

#include <filesystem>
#include <optional>

namespace nodwarden::app {

/// Where the control socket of the instance locking a folder lives. The program and its commands
/// both ask here, so they always agree on the address.
namespace ControlSocketPath {

/// The longest path a local socket address can hold (`sun_path` less its terminating zero).
std::size_t maxLength();

/// Beside the lock in `lockFolder` when that path fits in a socket address; else in
/// `runtimeFolder` under a name made from `lockFolder`, so two lock folders never share one
/// socket; none when neither fits.
std::optional<std::filesystem::path>
forLockFolder(const std::filesystem::path& lockFolder,
              const std::optional<std::filesystem::path>& runtimeFolder);

/// `$XDG_RUNTIME_DIR` when it is set to an absolute path.
std::optional<std::filesystem::path> runtimeFolderFromEnvironment();

} // namespace ControlSocketPath
} // namespace nodwarden::app
