#pragma once

#include <NodwardenCore/Export.hpp>

#include <filesystem>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {
namespace AtomicFile {

/// Writes `contents` to a new file beside `path` with `mode`, flushes it to disk and renames it
/// over `path`, creating missing folders first. A reader never sees half a file, and whatever is
/// at `path`, a link included, is replaced itself and never written through. Throws
/// `std::filesystem::filesystem_error` naming `path`; the old file is then left as it was.
void write(const std::filesystem::path& path, std::string_view contents,
           std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write);

} // namespace AtomicFile
} // namespace nodwarden
