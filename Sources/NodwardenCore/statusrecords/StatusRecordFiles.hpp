#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Bounded, content-blind reading of the files agents write about themselves. Transcripts hold
/// the user's prompts, replies and code, so a record is parsed keeping only the few fields a
/// verdict needs; everything else is dropped while parsing and never reaches a caller. A record
/// is read only when it is a regular file and not a symbolic link: a FIFO, a device or a link
/// put in its place reads as no record, without blocking.
namespace StatusRecordFiles {

/// The most that is ever read of one file.
inline constexpr std::size_t maxReadBytes = 64 * 1024;

/// The whole file when it holds at most `maxReadBytes`; none when it is missing, no regular file,
/// unreadable or larger (a status file cut short cannot be parsed anyway).
std::optional<std::string> readSmallFile(const std::filesystem::path& path);

/// The last `maxBytes` of the file, from the start of a line: a line cut by the start of the
/// window is dropped. None when the file is no regular file or cannot be read.
std::optional<std::string> readTail(const std::filesystem::path& path,
                                    std::size_t maxBytes = maxReadBytes);

/// The non-empty lines of `text`, last first. A last line still being written is included; it
/// fails to parse and is skipped by the caller.
std::vector<std::string_view> linesNewestFirst(std::string_view text);

/// Whether a key is kept: `depth` 1 for the keys of the record itself, 2 for the keys of an
/// object kept at depth 1, and so on.
using KeyFilter = std::function<bool(int depth, const std::string& key)>;

/// The JSON object in `text` with only the keys `keep` names; none when `text` is not a complete
/// JSON object. A text at a key `onlyWhetherEmpty` names keeps only whether it is empty (any other
/// text becomes "…"; an array or object there is dropped), so a reply's words never leave the
/// parser.
std::optional<nlohmann::json> parseKeeping(std::string_view text, const KeyFilter& keep,
                                           const KeyFilter& onlyWhetherEmpty = {});

/// A time as agents write it: a number of milliseconds since 1970 (or seconds, for values too
/// small to be milliseconds of this century), or an ISO-8601 UTC text
/// ("2026-12-08T11:05:34.120Z"). None for anything else.
std::optional<Date> readTimestamp(const nlohmann::json& value);

/// The modification time of `path`; none when it cannot be read.
std::optional<Date> modificationDate(const std::filesystem::path& path);

} // namespace StatusRecordFiles
} // namespace nodwarden
