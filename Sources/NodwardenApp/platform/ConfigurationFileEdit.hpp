#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace nodwarden::app {

/// Edits of a file another program owns and may save at any moment, in place or by renaming a
/// new copy over it: read whole, merged, checked unchanged and swapped in, so that none of the
/// other program's bytes and none of its saves is lost. The file keeps its owner, group and mode
/// (as root on another user's file, every step runs under that user's file identity); a link, a
/// file with other hard links and a read-only file are left alone with the reason.
namespace ConfigurationFileEdit {

/// What a merge made of the file's current text.
struct Merge {
    enum class Kind {
        /// Write `text` in place of the file.
        replace,
        /// Take the file away.
        remove,
        unchanged,
        /// Leave the file alone for `reason`.
        refused,
        /// The text is not whole, as a file caught half-saved is: read again, and refuse for
        /// `reason` only when it stays so.
        cutShort,
    };
    Kind kind = Kind::unchanged;
    std::string text;
    std::string reason;
};

/// Makes the new text of the file from its current one ("" and `exists` false when missing).
/// Called again whenever the file changed under the edit, so it must not keep state.
using Merger = std::function<Merge(const std::string& text, bool exists)>;

struct Outcome {
    enum class Kind { written, removed, unchanged, leftAlone };
    Kind kind = Kind::unchanged;
    /// Why the file was left alone (`leftAlone`).
    std::string reason;
};

struct Limits {
    /// The largest file read.
    std::size_t maxBytes = std::size_t(1) << 20;
    /// Reads of a text that is empty or cut short before it is taken as it stands.
    int readAttempts = 8;
    std::chrono::milliseconds readPause{10};
    /// How long the file may keep changing under the edit before it is left alone.
    std::chrono::milliseconds patience{5000};
};

/// The file's text, or why it cannot be edited; `looksWhole` false on a text makes it read again
/// a few times (a save in place truncates first).
struct Reading {
    bool exists = false;
    std::string text;
    std::optional<std::string> refusal;
};
Reading read(const std::filesystem::path& path,
             const std::function<bool(const std::string&)>& looksWhole, const Limits& limits = {});

/// Merges and writes `path`, creating missing folders. Temporary copies never outlive the call
/// (an unnamed file until the last moment; one left by a killed run is swept by the next).
Outcome edit(const std::filesystem::path& path, const Merger& merge, const Limits& limits = {});

} // namespace ConfigurationFileEdit
} // namespace nodwarden::app
