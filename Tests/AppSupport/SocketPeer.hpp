#pragma once

#include <filesystem>

namespace stayloom::testing {

/// A raw peer of a Unix stream socket, connected and saying nothing; the caller closes it. A
/// failed connection fails the current test.
int connectSocketPeer(const std::filesystem::path& socketPath);

} // namespace stayloom::testing
