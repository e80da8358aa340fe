#pragma once

#include <NodwardenCore/Export.hpp>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Reads of files that other programs, or other users, may have put in our way: under HOME,
/// /tmp or /run a FIFO, a device or a link can sit where a record is expected. These reads never
/// block on an open, never read anything but a regular file, and never read past their bound.
namespace BoundedFileRead {

/// Whether the last component of the path may be a symbolic link.
enum class Links { refuse, follow };

/// Bytes read and whether the file held more than was read.
struct Text {
    std::string bytes;
    bool truncated = false;
};

/// At most the first `maxBytes` of a regular file. None when it is missing, not a regular file, a
/// link where `links` refuses one, or unreadable.
std::optional<Text> head(const std::filesystem::path& path, std::size_t maxBytes,
                         Links links = Links::refuse);

/// At most the last `maxBytes` of a regular file, under the same rules as `head`.
std::optional<Text> tail(const std::filesystem::path& path, std::size_t maxBytes,
                         Links links = Links::refuse);

/// The whole file when it holds at most `maxBytes`; none otherwise (a record cut short cannot be
/// parsed anyway).
std::optional<std::string> whole(const std::filesystem::path& path, std::size_t maxBytes,
                                 Links links = Links::refuse);

} // namespace BoundedFileRead
} // namespace nodwarden
